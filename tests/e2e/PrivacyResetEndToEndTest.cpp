// The privacy reset runs the system tool (a recording stand-in here) only for
// allowed pairs and turns its run into the reply, alike for every client user.
#include "support/FileTree.h"
#include "support/SandboxUsers.h"

#include <gtest/gtest.h>

using namespace FileTree;
using namespace SandboxUsers;
using nlohmann::json;

namespace {

const std::string rules = "/var/run/sandbox/tccutil.rules";

json reset(const User& user, const std::string& service, const std::string& bundle) {
    return ctl(user, {"reset-privacy", "--", service, bundle}).reply;
}

// Which pairs may be reset and how a run becomes the reply are tested on the
// policy and the reply; here, that the real tool runs as root for every client
// user, only for an allowed pair, with both its streams.
TEST(PrivacyReset, TheToolRunsOnlyForAllowedPairsAndItsRunBecomesTheReply) {
    clearToolRuns();
    makeFile(rules, "reset\t1\t  \\n  first part\\n\tsecond part \\n\\n\n");
    for (const User* user : {&ann, &bob, &nohome, &root}) {
        SCOPED_TRACE(user->name);
        EXPECT_EQ(reset(*user, "Camera", "--help.x"), "Permission reset is not allowed");
        EXPECT_EQ(reset(*user, "SystemPolicyAllFiles", "Com.Example.App_2"), "first part\nsecond part");
    }
    const json args = {"reset", "SystemPolicyAllFiles", "Com.Example.App_2"};
    EXPECT_EQ(toolRuns(), std::vector<json>(4, json{{"tool", "tccutil"}, {"args", args}, {"euid", 0}}));
    makeFile(rules, "reset\tkill\thalf a li\t\n");
    EXPECT_EQ(reset(ann, "Camera", "com.example.App"), "half a li");
}

}  // namespace
