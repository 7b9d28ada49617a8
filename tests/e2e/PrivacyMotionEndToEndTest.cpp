// The privacy reset runs the system tool (a recording stand-in here) only for
// allowed pairs and turns its run into the reply; the motion request counts the
// connection in and out. Both treat every client user alike.
#include "support/FileTree.h"
#include "support/SandboxUsers.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>

#include <cstdio>
#include <sstream>

using namespace FileTree;
using namespace SandboxUsers;
using nlohmann::json;

namespace {

const std::string rules = "/var/run/sandbox/tccutil.rules";
const std::string refused = "Permission reset is not allowed";

// The stand-in's answer to "reset": STATUS<TAB>STDOUT<TAB>STDERR, `\n` in the texts a line end.
void answerReset(const std::string& status, const std::string& out, const std::string& err) {
    makeFile(rules, "reset\t" + status + "\t" + out + "\t" + err + "\n");
}


json reset(const User& user, const std::string& service, const std::string& bundle) {
    auto run = ctl(user, {"reset-privacy", "--", service, bundle});
    EXPECT_EQ(run.status, 0) << run.error;
    return run.reply;
}

struct PrivacyReset : testing::Test {
    void SetUp() override {
        clearToolRuns();
        makeFile(rules, "");
    }
};

// Which pairs may be reset and how a run becomes the reply are tested on the
// policy and the reply; here, that the real tool runs as root for every client
// user, only for an allowed pair.
TEST_F(PrivacyReset, TheToolRunsOnlyForAllowedPairsAndItsRunBecomesTheReply) {
    answerReset("1", "  \\n  first part\\n", "second part \\n\\n");
    for (const User* user : {&ann, &bob, &nohome, &root}) {
        SCOPED_TRACE(user->name);
        EXPECT_EQ(reset(*user, "Camera", "--help.x"), refused);
        EXPECT_EQ(reset(*user, "SystemPolicyAllFiles", "Com.Example.App_2"), "first part\nsecond part");
    }
    for (const auto& run : toolRuns())
        EXPECT_EQ(run, (json{{"tool", "tccutil"}, {"args", {"reset", "SystemPolicyAllFiles", "Com.Example.App_2"}},
                             {"euid", 0}}));
    EXPECT_EQ(toolRuns().size(), 4u);
    answerReset("kill", "half a li", "");
    EXPECT_EQ(reset(ann, "Camera", "com.example.App"), "half a li");
}

// The tool replaced by a file that cannot be executed, for the life of the guard.
struct UnlaunchableTool {
    const std::string stub = "/var/run/sandbox/tccutil-not-executable";
    bool mounted = false;
    UnlaunchableTool() {
        makeFile(stub, "#!/bin/sh\nexit 0\n", {}, 0644);
        mounted = ::mount(stub.c_str(), "/usr/bin/tccutil", nullptr, MS_BIND, nullptr) == 0;
    }
    ~UnlaunchableTool() {
        if (mounted) ::umount2("/usr/bin/tccutil", MNT_DETACH);
    }
};

TEST_F(PrivacyReset, AToolThatCannotBeLaunchedRepliesWithTheSystemsText) {
    {
        UnlaunchableTool tool;
        if (!tool.mounted) GTEST_SKIP() << "cannot mount over /usr/bin/tccutil here";
        EXPECT_EQ(reset(ann, "Camera", "com.example.App"), systemMessage(EACCES));
    }
    EXPECT_TRUE(toolRuns().empty());
    EXPECT_EQ(reset(ann, "Camera", "com.example.App"), nullptr);  // the stand-in is back
}

// The helper holds itself, and every tool it starts, to the folders requests
// may change. With the stand-ins' state moved into /run (a Linux host folder),
// a tool started by the helper still runs but cannot record its run there; the
// same tool started here can.
TEST_F(PrivacyReset, ToolsTheHelperStartsCannotWriteAHostFolder) {
    struct StateInRun {
        const std::string state = "/run/sandbox", aside = "/run/sandbox.moved";
        StateInRun() {
            EXPECT_EQ(::rename(state.c_str(), aside.c_str()), 0);
            makeFile(state + "/calls.jsonl", "", {}, 0666);
        }
        ~StateInRun() {
            removeAll(state);
            ::rename(aside.c_str(), state.c_str());
        }
    } moved;
    const std::string calls = moved.state + "/calls.jsonl";
    EXPECT_EQ(reset(ann, "Camera", "com.example.App"), nullptr);
    EXPECT_EQ(readFile(calls), "") << "started by the helper";
    EXPECT_EQ(runAs(root, "/usr/bin/tccutil", {"reset", "Camera", "com.example.App"}).status, 0);
    EXPECT_NE(readFile(calls), "") << "started here";
}

// The replies of one session, in the order of its requests.
std::vector<json> replies(const User& user, const std::vector<json>& requests) {
    std::vector<json> inOrder(requests.size());
    for (const json& answer : session(user, requests)) inOrder.at(answer["line"].get<size_t>() - 1) = answer["reply"];
    return inOrder;
}

// This platform has no sensor: a change is counted but switches nothing.
TEST(MotionSensor, RequestsOfOneConnectionAreCountedOnceAndEndWithIt) {
    EXPECT_EQ(replies(ann, {{"motion", "on"}, {"motion", "on"}, {"motion", "off"}, {"motion", "off"}}),
              (std::vector<json>{false, true, false, true}));
    const pid_t helper = helperPid();
    ASSERT_GT(helper, 0);
    for (const User* user : {&ann, &bob, &ann}) {
        SCOPED_TRACE(user->name);
        EXPECT_EQ(replies(*user, {{"motion", "on"}}), (std::vector<json>{false}));
    }
    EXPECT_EQ(replies(ann, {{"version"}, {"motion", "on"}, {"motion", "on"}}), (std::vector<json>{"1.6", false, true}));
    EXPECT_EQ(::kill(helper, 0), 0);
    EXPECT_EQ(helperPid(), helper);
}

}  // namespace
