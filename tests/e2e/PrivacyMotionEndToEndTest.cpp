// The privacy reset runs the system tool (a recording stand-in here) only for
// allowed pairs and turns its run into the reply; the motion request counts the
// connection in and out. Both treat every client user alike.
#include "support/FileTree.h"
#include "support/SandboxUsers.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>

#include <sstream>

using namespace FileTree;
using namespace SandboxUsers;
using nlohmann::json;

namespace {

const std::string calls = "/var/run/sandbox/calls.jsonl";
const std::string rules = "/var/run/sandbox/tccutil.rules";
const std::string refused = "Permission reset is not allowed";

// The stand-in's answer to "reset": STATUS<TAB>STDOUT<TAB>STDERR, `\n` in the texts a line end.
void answerReset(const std::string& status, const std::string& out, const std::string& err) {
    makeFile(rules, "reset\t" + status + "\t" + out + "\t" + err + "\n");
}

std::vector<json> toolRuns() {
    std::vector<json> runs;
    std::istringstream lines(readFile(calls));
    for (std::string line; std::getline(lines, line);) runs.push_back(json::parse(line));
    return runs;
}

json reset(const User& user, const std::string& service, const std::string& bundle) {
    auto run = ctl(user, {"reset-privacy", "--", service, bundle});
    EXPECT_EQ(run.status, 0) << run.error;
    return run.reply;
}

struct PrivacyReset : testing::Test {
    void SetUp() override {
        makeFile(calls, "");
        makeFile(rules, "");
    }
};

TEST_F(PrivacyReset, RefusedPairsStartNoProcess) {
    // One of each refusal, and an identifier that reads as an option.
    const std::pair<const char*, const char*> pairs[] = {
        {"camera", "com.example.App"}, {"Camera", "com..example"}, {"Camera", "COM.Apple.Safari"},
        {"Camera", "com.kelto.sorvane.HELPER"}, {"Camera", "--help.x"},
    };
    for (const auto& [service, bundle] : pairs)
        EXPECT_EQ(reset(ann, service, bundle), refused) << service << " " << bundle;
    EXPECT_EQ(readFile(calls), "");
}

TEST_F(PrivacyReset, TheToolsRunBecomesTheReply) {
    struct Case {
        const char* what;
        std::string status, out, err;
        json reply;
    };
    const Case cases[] = {
        {"success with a warning", "0", "tccutil: warning: nothing to reset\\n", "careful\\n", nullptr},
        {"failure text, both streams merged and trimmed", "1", "  \\n  first part\\n", "second part \\n\\n",
         "first part\nsecond part"},
        {"blank output", "1", " \\n\\n ", "\\n\t", "tccutil failed"},
        {"no output at all", "70", "", "", "tccutil failed"},
        {"invalid UTF-8", "1", "caf\xE9 au lait\xFF", "", "caf\xEF\xBF\xBD au lait\xEF\xBF\xBD"},
        {"killed after a partial line", "kill", "half a li", "", "half a li"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        answerReset(c.status, c.out, c.err);
        makeFile(calls, "");
        EXPECT_EQ(reset(ann, "SystemPolicyAllFiles", "Com.Example.App_2"), c.reply);
        const auto runs = toolRuns();
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_EQ(runs[0], (json{{"tool", "tccutil"}, {"args", {"reset", "SystemPolicyAllFiles", "Com.Example.App_2"}},
                                 {"euid", 0}}));
    }
}

TEST_F(PrivacyReset, EveryClientUserGetsTheSameTreatment) {
    answerReset("1", "No such bundle identifier \"com.example.Other\"\\n", "");
    for (const User* user : {&ann, &bob, &nohome, &root}) {
        SCOPED_TRACE(user->name);
        EXPECT_EQ(reset(*user, "Camera", "com.example.Other"), "No such bundle identifier \"com.example.Other\"");
        EXPECT_EQ(reset(*user, "Camera", "com.apple.Photos"), refused);
    }
    const auto runs = toolRuns();
    ASSERT_EQ(runs.size(), 4u);
    for (const auto& run : runs) EXPECT_EQ(run["euid"], 0);
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
    EXPECT_EQ(readFile(calls), "");
    EXPECT_EQ(reset(ann, "Camera", "com.example.App"), nullptr);  // the stand-in is back
}

// One connection's requests, each a JSON array of sorvanectl words; the replies in order.
std::vector<json> session(const User& user, const std::vector<json>& requests) {
    std::string input;
    for (const auto& request : requests) input += request.dump() + "\n";
    auto run = runAs(user, sorvanectlPath, {"session"}, input);
    EXPECT_EQ(run.status, 0) << run.error;
    std::vector<json> replies(requests.size());
    std::istringstream lines(run.output);
    for (std::string line; std::getline(lines, line);) {
        const json answer = json::parse(line);
        replies.at(answer["line"].get<size_t>() - 1) = answer["reply"];
    }
    return replies;
}

TEST(MotionSensor, RequestsOfOneConnectionAreCountedOnce) {
    // This platform has no sensor: a change is counted but switches nothing.
    EXPECT_EQ(session(ann, {{"motion", "on"}, {"motion", "on"}, {"motion", "off"}, {"motion", "off"}}),
              (std::vector<json>{false, true, false, true}));
    EXPECT_EQ(session(bob, {{"motion", "off"}}), (std::vector<json>{true}));
}

TEST(MotionSensor, AConnectionThatEndsWhileOnLeavesTheHelperServing) {
    const pid_t helper = helperPid();
    ASSERT_GT(helper, 0);
    for (const User* user : {&ann, &bob, &ann}) {
        SCOPED_TRACE(user->name);
        EXPECT_EQ(session(*user, {{"motion", "on"}}), (std::vector<json>{false}));
    }
    EXPECT_EQ(session(ann, {{"version"}, {"motion", "on"}, {"motion", "on"}}), (std::vector<json>{"1.6", false, true}));
    EXPECT_EQ(::kill(helper, 0), 0);
    EXPECT_EQ(helperPid(), helper);
}

}  // namespace
