// Turning jobs of the two system job folders on and off, and unloading them,
// through the running helper and the recording launchctl stand-in: the reply,
// the exact launchctl runs (none for a refusal) and what became of the plist.
#include "helper/HelperService.h"
#include "support/FileTree.h"
#include "support/SandboxUsers.h"

#include <gtest/gtest.h>

#include <sys/mount.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <thread>

using namespace Helper;

using namespace FileTree;
using namespace SandboxUsers;
using nlohmann::json;

namespace {

const std::string rules = "/var/run/sandbox/launchctl.rules";
const std::string daemons = "/Library/LaunchDaemons/";
const std::string agents = "/Library/LaunchAgents/";
const std::string rootProgram = "/usr/local/libexec/com.example.job";
const std::string annsProgram = "/Users/ann/bin/com.example.agent";
const json notAllowed = "Launch job is not allowed";
const json replaceableProgram = "The job's program could be replaced by another user: not turning it on";

using Runs = std::vector<std::vector<std::string>>;

Runs launchctlRuns() {
    Runs runs;
    for (const json& run : toolRuns()) {
        EXPECT_EQ(run["tool"], "launchctl");
        EXPECT_EQ(run["euid"], 0);
        runs.push_back(run["args"].get<std::vector<std::string>>());
    }
    return runs;
}

std::string plistText(const std::string& label, const std::optional<std::string>& program) {
    std::string entries = "<key>Label</key><string>" + label + "</string>";
    if (program) entries += "<key>ProgramArguments</key><array><string>" + *program + "</string></array>";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" + entries + "</dict></plist>\n";
}

std::string makeJob(const std::string& folder, const std::string& label,
                    const std::optional<std::string>& program = rootProgram, Owner owner = {}, mode_t mode = 0644) {
    std::string path = folder + label + ".plist";
    makeFile(path, plistText(label, program), owner, mode);
    return path;
}

json ctlReply(const User& user, const std::vector<std::string>& words) {
    auto run = ctl(user, words);
    EXPECT_EQ(run.status, 0) << run.error;
    return run.reply;
}
json setJob(const User& user, bool enabled, const std::string& label, const std::string& plist) {
    return ctlReply(user, {"launch-job", enabled ? "enable" : "disable", label, plist});
}
json unload(const User& user, bool toTrash, const std::string& label, const std::string& plist) {
    return ctlReply(user, toTrash ? std::vector<std::string>{"unload-daemon", "--trash", label, plist}
                                   : std::vector<std::string>{"unload-daemon", label, plist});
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

TEST_F(LaunchJobs, EnableAndDisableRunTheChangeSequence) {
    const std::string daemon = makeJob(daemons, "com.example.job");
    const std::string content = readFile(daemon);
    EXPECT_EQ(setJob(ann, true, "com.example.job", daemon), nullptr);
    EXPECT_EQ(setJob(ann, false, "com.example.job", daemon), nullptr);

    const std::string agent = makeJob(agents, "com.example.agent", annsProgram);
    EXPECT_EQ(setJob(ann, true, "com.example.agent", agent), nullptr);
    EXPECT_EQ(setJob(ann, false, "com.example.agent", agent), nullptr);
    EXPECT_EQ(launchctlRuns(), (Runs{{"enable", "system/com.example.job"}, {"bootstrap", "system", daemon},
                                     {"disable", "system/com.example.job"}, {"bootout", "system/com.example.job"},
                                     {"enable", "gui/501/com.example.agent"}, {"bootstrap", "gui/501", agent},
                                     {"disable", "gui/501/com.example.agent"}, {"bootout", "gui/501/com.example.agent"}}));
    EXPECT_EQ(readFile(daemon), content);
    // A failed step's text is the reply; which failures count is tested on the plan.
    clearToolRuns();
    makeFile(rules, "enable\t1\t\tno permission\\n\n");
    EXPECT_EQ(setJob(ann, true, "com.example.job", daemon), "launchctl enable failed (1): no permission");
    EXPECT_EQ(launchctlRuns(), (Runs{{"enable", "system/com.example.job"}}));
}

// Which jobs the rules allow is tested on the rules; here, the facts that only
// real files give, and that a refusal runs nothing and touches nothing.
TEST_F(LaunchJobs, RefusalsRunNothingAndTouchNothing) {
    const std::string job = makeJob(daemons, "com.example.job");
    const std::string annsPlist = makeJob(daemons, "com.example.anns", rootProgram, {501, 20});
    const std::string writable = makeJob(daemons, "com.example.writable", rootProgram, {}, 0664);
    makeSymlink(job, daemons + "com.example.link.plist");
    makeFile("/private/tmp/job/prog", "#!/bin/sh\n", {}, 0755);
    const std::string replaceable = makeJob(agents, "com.example.tmp", "/private/tmp/job/prog");
    const std::string annsAgent = makeJob(agents, "com.example.agent", annsProgram);
    struct Case {
        const char* what;
        const User& user;
        std::string label, plist;
        json enabling;
        bool unloadRefused;
    };
    const Case cases[] = {
        {"plist owned by ann", ann, "com.example.anns", annsPlist, notAllowed, true},
        {"group-writable plist", ann, "com.example.writable", writable, notAllowed, false},
        {"plist through a link", ann, "com.example.job", daemons + "com.example.link.plist", notAllowed, true},
        {"missing plist", ann, "com.example.none", daemons + "com.example.none.plist", notAllowed, true},
        {"program below /private/tmp", ann, "com.example.tmp", replaceable, replaceableProgram, false},
        {"ann's agent program, enabled by bob", bob, "com.example.agent", annsAgent, replaceableProgram, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const bool existed = exists(c.plist);
        EXPECT_EQ(setJob(c.user, true, c.label, c.plist), c.enabling);
        if (c.unloadRefused) {
            EXPECT_EQ(setJob(c.user, false, c.label, c.plist), notAllowed);
            EXPECT_EQ(unload(c.user, true, c.label, c.plist), notAllowed);
        }
        EXPECT_EQ(exists(c.plist), existed);
        EXPECT_EQ(launchctlRuns(), Runs{});
    }
    EXPECT_EQ(readFile(job), plistText("com.example.job", rootProgram));
}

TEST_F(LaunchJobs, UnloadBootsOutAndDeletesOrTrashes) {
    makeFile(rules, "bootout\t3\t\tNo such process\\n\n");  // not loaded: makes no difference

    const std::string deleted = makeJob(daemons, "com.example.deleted");
    EXPECT_EQ(unload(ann, false, "com.example.deleted", deleted), nullptr);
    EXPECT_FALSE(exists(deleted));

    const std::string trashed = makeJob(agents, "com.example.trashed", std::nullopt, {}, 0664);
    EXPECT_EQ(unload(ann, true, "com.example.trashed", trashed), nullptr);
    EXPECT_FALSE(exists(trashed));
    EXPECT_EQ(ownerOf("/Users/ann/.Trash/com.example.trashed.plist"), (Owner{501, 20}));

    const std::string kept = makeJob(daemons, "com.example.kept");
    EXPECT_EQ(unload(nohome, true, "com.example.kept", kept), "The Trash of this user was not found");
    EXPECT_TRUE(exists(kept));

    EXPECT_EQ(launchctlRuns(), (Runs{{"bootout", "system/com.example.deleted"}, {"bootout", "gui/501/com.example.trashed"},
                                     {"bootout", "system/com.example.kept"}}));
}

TEST_F(LaunchJobs, UnloadRepliesTheFailureOfTheRemoval) {
    const std::string plist = makeJob(daemons, "com.example.job");
    if (::mount(daemons.c_str(), daemons.c_str(), nullptr, MS_BIND, nullptr) != 0) GTEST_SKIP() << "no bind mount";
    bool readOnly = ::mount(nullptr, daemons.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
    json reply = readOnly ? unload(ann, false, "com.example.job", plist) : json();
    ::umount2(daemons.c_str(), MNT_DETACH);
    if (!readOnly) GTEST_SKIP() << "cannot make the folder read-only";

    ASSERT_TRUE(reply.is_string());
    EXPECT_TRUE(reply.get<std::string>().ends_with(": " + systemMessage(EROFS))) << reply;
    EXPECT_TRUE(exists(plist));
    EXPECT_EQ(launchctlRuns(), (Runs{{"bootout", "system/com.example.job"}}));
}

TEST_F(LaunchJobs, ASlowEnableLeavesTheConnectionFree) {
    const std::string plist = makeJob(daemons, "com.example.job");
    makeFile(rules, "bootstrap\t0\t\t\t3\n");
    const std::vector<json> replies = session(ann, {{"launch-job", "enable", "com.example.job", plist}, {"version"},
                                                    {"launch-job", "enable", "com.apple.job", plist}});
    // The refusal and the version come back while the first request still waits for launchctl.
    EXPECT_EQ(replies, (std::vector<json>{{{"line", 2}, {"reply", "1.6"}}, {{"line", 3}, {"reply", notAllowed}},
                                          {{"line", 1}, {"reply", nullptr}}}));
}

// A connection's slow sequences keep none of their threads from another
// connection: while ann's enables all wait for bootstrap, bob's disable of
// another job is answered at once.
TEST_F(LaunchJobs, SlowSequencesOfOneConnectionDoNotDelayAnothers) {
    using namespace std::chrono;
    const std::string annsJob = makeJob(daemons, "com.example.slow");
    const std::string bobsJob = makeJob(daemons, "com.example.other");
    makeFile(rules, "bootstrap\t0\t\t\t4\n");
    std::string input;
    for (unsigned i = 0; i < HelperService::launchSequenceThreads; ++i)
        input += json({"launch-job", "enable", "com.example.slow", annsJob}).dump() + "\n";
    std::thread anns([&] { EXPECT_EQ(runAs(ann, sorvanectlPath, {"session"}, input).status, 0); });
    const auto bootstraps = [] {
        const Runs runs = launchctlRuns();
        return std::count_if(runs.begin(), runs.end(), [](const auto& run) { return run[0] == "bootstrap"; });
    };
    for (int i = 0; i < 500 && bootstraps() < HelperService::launchSequenceThreads; ++i)
        std::this_thread::sleep_for(milliseconds(20));

    const auto start = steady_clock::now();
    EXPECT_EQ(setJob(bob, false, "com.example.other", bobsJob), nullptr);
    const auto waited = duration_cast<milliseconds>(steady_clock::now() - start);
    EXPECT_LT(waited.count(), 2000) << "bob's disable waited behind ann's enables";
    anns.join();
}

}  // namespace
