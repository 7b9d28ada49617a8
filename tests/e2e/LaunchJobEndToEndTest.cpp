// Turning jobs of the two system job folders on and off, and unloading them,
// through the running helper and the recording launchctl stand-in: the reply,
// the exact launchctl runs (none for a refusal) and what became of the plist.
// Which jobs the rules allow is tested on the rules; here, the facts that only
// real files and real clients give.
#include "helper/HelperService.h"
#include "support/FileTree.h"
#include "support/SandboxUsers.h"

#include <gtest/gtest.h>

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
    for (const json& run : toolRuns()) runs.push_back(run["args"].get<std::vector<std::string>>());
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
    }
    void TearDown() override {
        for (const auto& folder : {daemons, agents})
            for (const auto& name : namesIn(folder)) removeAll(folder + name);
        removeAll("/Users/ann/.Trash");
    }
};

TEST_F(LaunchJobs, ChangesAndUnloadsRunLaunchctlInTheClientsDomain) {
    const std::string daemon = makeJob(daemons, "x.daemon"), agent = makeJob(agents, "x.agent", annsProgram);
    for (const char* change : {"enable", "disable"}) {
        EXPECT_EQ(ask(ann, {"launch-job", change, "x.daemon", daemon}), nullptr);
        EXPECT_EQ(ask(ann, {"launch-job", change, "x.agent", agent}), nullptr);
    }
    EXPECT_EQ(launchctlRuns(), (Runs{{"enable", "system/x.daemon"},
                                     {"bootstrap", "system", daemon},
                                     {"enable", "gui/501/x.agent"},
                                     {"bootstrap", "gui/501", agent},
                                     {"disable", "system/x.daemon"},
                                     {"bootout", "system/x.daemon"},
                                     {"disable", "gui/501/x.agent"},
                                     {"bootout", "gui/501/x.agent"}}));
    makeFile(rules, "enable\t1\t\tno permission\\n\n");
    EXPECT_EQ(ask(ann, {"launch-job", "enable", "x.daemon", daemon}), "launchctl enable failed (1): no permission");
    EXPECT_EQ(launchctlRuns(), (Runs{{"enable", "system/x.daemon"}}));

    // Unloading boots the job out, whether it was loaded or not, and deletes the plist or moves it to the Trash.
    makeFile(rules, "bootout\t3\t\tNo such process\\n\n");  // not loaded: makes no difference
    const std::string deleted = makeJob(daemons, "x.deleted"), trashed = makeJob(agents, "x.trashed");
    EXPECT_EQ(ask(ann, {"unload-daemon", "x.deleted", deleted}), nullptr);
    EXPECT_EQ(ask(ann, {"unload-daemon", "--trash", "x.trashed", trashed}), nullptr);
    EXPECT_FALSE(exists(deleted) || exists(trashed));
    EXPECT_EQ(ownerOf("/Users/ann/.Trash/x.trashed.plist"), (Owner{501, 20}));
    EXPECT_EQ(launchctlRuns(), (Runs{{"bootout", "system/x.deleted"}, {"bootout", "gui/501/x.trashed"}}));
}

TEST_F(LaunchJobs, RefusalsRunNothingAndTouchNothing) {
    const std::string annsPlist = makeJob(daemons, "x.anns", rootProgram, {501, 20});
    const std::string annsAgent = makeJob(agents, "x.agent", annsProgram);
    EXPECT_EQ(ask(ann, {"launch-job", "enable", "x.anns", annsPlist}), notAllowed);
    EXPECT_EQ(ask(ann, {"launch-job", "disable", "x.anns", annsPlist}), notAllowed);
    EXPECT_EQ(ask(ann, {"unload-daemon", "--trash", "x.anns", annsPlist}), notAllowed);
    EXPECT_EQ(ask(bob, {"launch-job", "enable", "x.agent", annsAgent}), replaceable);  // ann's program
    EXPECT_TRUE(exists(annsPlist) && exists(annsAgent));
    EXPECT_EQ(launchctlRuns(), Runs{});
}

// While all of ann's sequences wait for a slow bootstrap, bob's disable of
// another job is answered at once: each connection has threads of its own.
TEST_F(LaunchJobs, OneConnectionsSlowSequencesDoNotDelayAnothers) {
    using namespace std::chrono;
    const std::string slow = makeJob(daemons, "x.slow"), other = makeJob(daemons, "x.other");
    makeFile(rules, "bootstrap\t0\t\t\t4\n");
    const std::vector<json> requests(HelperService::launchSequenceThreads, {"launch-job", "enable", "x.slow", slow});
    std::thread anns([&] { EXPECT_EQ(session(ann, requests).size(), requests.size()); });
    // Each sequence's enable, then its bootstrap, is recorded as it starts.
    for (int i = 0; i < 500 && toolRuns().size() < 2 * requests.size(); ++i)
        std::this_thread::sleep_for(milliseconds(20));
    const auto start = steady_clock::now();
    EXPECT_EQ(ask(bob, {"launch-job", "disable", "x.other", other}), nullptr);
    EXPECT_LT(steady_clock::now() - start, seconds(2)) << "bob's disable waited behind ann's enables";
    anns.join();
}

}  // namespace
