// Turning jobs of the two system job folders on and off, and unloading them,
// through the running helper and the recording launchctl stand-in: the reply,
// the exact launchctl runs (none for a refusal) and what became of the plist.
// Which jobs the rules allow is tested on the rules; here, the facts that only
// real files and real clients give.
#include "helper/HelperService.h"
#include "support/FileTree.h"
#include "support/SandboxUsers.h"

#include <gtest/gtest.h>

#include <sys/mount.h>

#include <chrono>
#include <thread>

using namespace FileTree;
using namespace SandboxUsers;
using Helper::HelperService;
using nlohmann::json;

namespace {

const std::string rules = "/var/run/sandbox/launchctl.rules";
const std::string daemons = "/Library/LaunchDaemons/", agents = "/Library/LaunchAgents/";
const std::string rootProgram = "/usr/local/libexec/job", annsProgram = "/Users/ann/bin/job";
const json notAllowed = "Launch job is not allowed";
const json replaceable = "The job's program could be replaced by another user: not turning it on";

using Runs = std::vector<std::vector<std::string>>;

Runs launchctlRuns() {
    Runs runs;
    for (const json& run : toolRuns()) {
        EXPECT_EQ(run["euid"], 0);
        runs.push_back(run["args"].get<std::vector<std::string>>());
    }
    clearToolRuns();
    return runs;
}

std::string makeJob(const std::string& folder, const std::string& label, const std::string& program = rootProgram,
                    Owner owner = {}) {
    makeFile(folder + label + ".plist",
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>Label</key><string>" +
                 label + "</string><key>Program</key><string>" + program + "</string></dict></plist>\n",
             owner);
    return folder + label + ".plist";
}

// The reply of `sorvanectl --json WORDS...`.
json ask(const User& user, const std::vector<std::string>& words) {
    auto run = ctl(user, words);
    EXPECT_EQ(run.status, 0) << run.error;
    return run.reply;
}

struct LaunchJobs : testing::Test {
    void SetUp() override {
        clearToolRuns();
        makeFile(rules, "");
        makeFile(rootProgram, "#!/bin/sh\n", {}, 0755);
        makeFile(annsProgram, "#!/bin/sh\n", {501, 20}, 0755);
        makeFolder("/Users/ann/bin", {501, 20}, 0755);
    }
    void TearDown() override {
        for (const auto& folder : {daemons, agents})
            for (const auto& name : namesIn(folder)) removeAll(folder + name);
        removeAll("/Users/ann/.Trash");
        removeAll("/private/tmp/job");
    }
};

TEST_F(LaunchJobs, EnableAndDisableRunTheChangeSequenceInTheClientsDomain) {
    const std::string daemon = makeJob(daemons, "x.daemon"), agent = makeJob(agents, "x.agent", annsProgram);
    for (const char* change : {"enable", "disable"}) {
        EXPECT_EQ(ask(ann, {"launch-job", change, "x.daemon", daemon}), nullptr);
        EXPECT_EQ(ask(ann, {"launch-job", change, "x.agent", agent}), nullptr);
    }
    EXPECT_EQ(launchctlRuns(), (Runs{{"enable", "system/x.daemon"}, {"bootstrap", "system", daemon},
                                     {"enable", "gui/501/x.agent"}, {"bootstrap", "gui/501", agent},
                                     {"disable", "system/x.daemon"}, {"bootout", "system/x.daemon"},
                                     {"disable", "gui/501/x.agent"}, {"bootout", "gui/501/x.agent"}}));
    EXPECT_TRUE(exists(daemon));
    makeFile(rules, "enable\t1\t\tno permission\\n\n");
    EXPECT_EQ(ask(ann, {"launch-job", "enable", "x.daemon", daemon}), "launchctl enable failed (1): no permission");
    EXPECT_EQ(launchctlRuns(), (Runs{{"enable", "system/x.daemon"}}));
}

TEST_F(LaunchJobs, RefusalsRunNothingAndTouchNothing) {
    const std::string annsPlist = makeJob(daemons, "x.anns", rootProgram, {501, 20});
    makeSymlink(makeJob(daemons, "x.daemon"), daemons + "x.link.plist");
    makeFile("/private/tmp/job/prog", "#!/bin/sh\n", {}, 0755);
    const std::string inTmp = makeJob(agents, "x.tmp", "/private/tmp/job/prog");
    const std::string annsAgent = makeJob(agents, "x.agent", annsProgram);
    // Who asks, the label and plist, the reply to an enable; whether a disable and an unload are refused too.
    const std::tuple<User, std::string, std::string, json, bool> cases[] = {
        {ann, "x.anns", annsPlist, notAllowed, true},
        {ann, "x.daemon", daemons + "x.link.plist", notAllowed, true},
        {ann, "x.tmp", inTmp, replaceable, false},
        {bob, "x.agent", annsAgent, replaceable, false},
    };
    for (const auto& [user, label, plist, enabling, allRefused] : cases) {
        SCOPED_TRACE(plist);
        EXPECT_EQ(ask(user, {"launch-job", "enable", label, plist}), enabling);
        if (allRefused) {
            EXPECT_EQ(ask(user, {"launch-job", "disable", label, plist}), notAllowed);
            EXPECT_EQ(ask(user, {"unload-daemon", "--trash", label, plist}), notAllowed);
        }
        EXPECT_TRUE(exists(plist));
        EXPECT_EQ(launchctlRuns(), Runs{});
    }
}

TEST_F(LaunchJobs, UnloadBootsOutAndDeletesOrTrashes) {
    makeFile(rules, "bootout\t3\t\tNo such process\\n\n");  // not loaded: makes no difference
    const std::string deleted = makeJob(daemons, "x.deleted"), trashed = makeJob(agents, "x.trashed");
    const std::string kept = makeJob(daemons, "x.kept");
    EXPECT_EQ(ask(ann, {"unload-daemon", "x.deleted", deleted}), nullptr);
    EXPECT_EQ(ask(ann, {"unload-daemon", "--trash", "x.trashed", trashed}), nullptr);
    EXPECT_EQ(ask(nohome, {"unload-daemon", "--trash", "x.kept", kept}), "The Trash of this user was not found");
    EXPECT_FALSE(exists(deleted) || exists(trashed));
    EXPECT_EQ(ownerOf("/Users/ann/.Trash/x.trashed.plist"), (Owner{501, 20}));
    EXPECT_TRUE(exists(kept));
    EXPECT_EQ(launchctlRuns(), (Runs{{"bootout", "system/x.deleted"}, {"bootout", "gui/501/x.trashed"},
                                     {"bootout", "system/x.kept"}}));

    // A removal that fails is the reply.
    if (::mount(daemons.c_str(), daemons.c_str(), nullptr, MS_BIND, nullptr) != 0) GTEST_SKIP() << "no bind mount";
    const bool readOnly = ::mount(nullptr, daemons.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
    const json reply = readOnly ? ask(ann, {"unload-daemon", "x.kept", kept}) : json();
    ::umount2(daemons.c_str(), MNT_DETACH);
    if (!readOnly) GTEST_SKIP() << "cannot make the folder read-only";
    EXPECT_TRUE(reply.is_string() && reply.get<std::string>().ends_with(": " + systemMessage(EROFS))) << reply;
    EXPECT_TRUE(exists(kept));
}

// While all of ann's sequences wait for a slow bootstrap, her other requests
// are answered at once, and so is bob's disable of another job.
TEST_F(LaunchJobs, SlowSequencesDelayNothingElse) {
    using namespace std::chrono;
    const std::string slow = makeJob(daemons, "x.slow"), other = makeJob(daemons, "x.other");
    makeFile(rules, "bootstrap\t0\t\t\t4\n");
    std::vector<json> requests(HelperService::launchSequenceThreads, {"launch-job", "enable", "x.slow", slow});
    requests.push_back({"version"});
    requests.push_back({"launch-job", "enable", "com.apple.job", slow});
    std::vector<json> replies;
    std::thread anns([&] { replies = session(ann, requests); });
    const auto bootstraps = [] {
        size_t count = 0;
        for (const json& run : toolRuns()) count += run["args"][0] == "bootstrap";
        return count;
    };
    for (int i = 0; i < 500 && bootstraps() < HelperService::launchSequenceThreads; ++i)
        std::this_thread::sleep_for(milliseconds(20));
    const auto start = steady_clock::now();
    EXPECT_EQ(ask(bob, {"launch-job", "disable", "x.other", other}), nullptr);
    EXPECT_LT(steady_clock::now() - start, seconds(2)) << "bob's disable waited behind ann's enables";
    anns.join();
    ASSERT_EQ(replies.size(), requests.size());
    EXPECT_EQ(replies[0], (json{{"line", requests.size() - 1}, {"reply", "1.6"}}));
    EXPECT_EQ(replies[1], (json{{"line", requests.size()}, {"reply", notAllowed}}));
}

}  // namespace
