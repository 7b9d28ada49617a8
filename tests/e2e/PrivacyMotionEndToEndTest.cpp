// The privacy reset runs the system tool (a recording stand-in here) only for
// allowed pairs and turns its run into the reply; the motion request counts the
// connection in and out. Both treat every client user alike.
#include "support/FileTree.h"
#include "support/SandboxUsers.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace FileTree;
using namespace SandboxUsers;
using nlohmann::json;

namespace {

const std::string rules = "/var/run/sandbox/tccutil.rules";

json reset(const User& user, const std::string& service, const std::string& bundle) {
    auto run = ctl(user, {"reset-privacy", "--", service, bundle});
    EXPECT_EQ(run.status, 0) << run.error;
    return run.reply;
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

// The helper holds itself, and every tool it starts, to the folders requests
// may change. With the stand-ins' state moved into /run (a Linux host folder),
// a tool started by the helper still runs but cannot record its run there; the
// same tool started here can.
TEST(PrivacyReset, ToolsTheHelperStartsCannotWriteAHostFolder) {
    makeFile(rules, "");
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
    EXPECT_EQ(reset(ann, "Camera", "com.example.App"), nullptr);
    EXPECT_EQ(readFile(moved.state + "/calls.jsonl"), "") << "started by the helper";
    EXPECT_EQ(runAs(root, "/usr/bin/tccutil", {"reset", "Camera", "com.example.App"}).status, 0);
    EXPECT_NE(readFile(moved.state + "/calls.jsonl"), "") << "started here";
}

// This platform has no sensor: a change is counted but switches nothing, so it
// answers false, and a request that changes nothing true. A connection's end
// withdraws it: the next connection's "on" is a change again.
TEST(MotionSensor, RequestsOfOneConnectionAreCountedOnceAndEndWithIt) {
    const std::vector<json> requests = {{"motion", "on"}, {"motion", "on"}, {"motion", "off"}, {"motion", "off"}};
    for (const User* user : {&ann, &bob, &ann}) {
        std::vector<json> replies(4);
        for (const json& answer : session(*user, requests))
            replies.at(answer["line"].get<size_t>() - 1) = answer["reply"];
        EXPECT_EQ(replies, (std::vector<json>{false, true, false, true})) << user->name;
    }
}

}  // namespace
