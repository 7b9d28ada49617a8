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

const std::string calls = "/var/run/sandbox/calls.jsonl";
const std::string rules = "/var/run/sandbox/launchctl.rules";
const std::string daemons = "/Library/LaunchDaemons/";
const std::string agents = "/Library/LaunchAgents/";
const std::string rootProgram = "/usr/local/libexec/com.example.job";
const std::string annsProgram = "/Users/ann/bin/com.example.agent";
const json notAllowed = "Launch job is not allowed";
const json replaceable = "The job's program could be replaced by another user: not turning it on";

using Runs = std::vector<std::vector<std::string>>;

Runs launchctlRuns() {
    Runs runs;
    std::istringstream lines(readFile(calls));
    for (std::string line; std::getline(lines, line);) {
        json run = json::parse(line);
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

json setJob(const User& user, bool enabled, const std::string& label, const std::string& plist) {
    auto run = ctl(user, {"launch-job", enabled ? "enable" : "disable", label, plist});
    EXPECT_EQ(run.status, 0) << run.error;
    return run.reply;
}

json unload(const User& user, bool toTrash, const std::string& label, const std::string& plist) {
    std::vector<std::string> words{"unload-daemon"};
    if (toTrash) words.push_back("--trash");
    words.insert(words.end(), {label, plist});
    auto run = ctl(user, words);
    EXPECT_EQ(run.status, 0) << run.error;
    return run.reply;
}

struct LaunchJobs : testing::Test {
    void SetUp() override {
        makeFile(calls, "");
        makeFile(rules, "");
        makeFile(rootProgram, "#!/bin/sh\n", {}, 0755);
        makeFile(annsProgram, "#!/bin/sh\n", {501, 20}, 0755);
        setOwnerAndMode("/Users/ann/bin", {501, 20}, 0755);
    }
    void TearDown() override {
        for (const auto& folder : {daemons, agents})
            for (const auto& name : namesIn(folder)) removeAll(folder + name);
        removeAll("/Users/ann/.Trash");
        removeAll("/private/tmp/job");
    }
    static void setOwnerAndMode(const std::string& path, Owner owner, mode_t mode) {
        ASSERT_EQ(::chown(path.c_str(), owner.uid, owner.gid), 0) << path;
        ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
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
    EXPECT_EQ(launchctlRuns(), (Runs{
                                   {"enable", "system/com.example.job"},
                                   {"bootstrap", "system", daemon},
                                   {"disable", "system/com.example.job"},
                                   {"bootout", "system/com.example.job"},
                                   {"enable", "gui/501/com.example.agent"},
                                   {"bootstrap", "gui/501", agent},
                                   {"disable", "gui/501/com.example.agent"},
                                   {"bootout", "gui/501/com.example.agent"},
                               }));
    EXPECT_EQ(readFile(daemon), content);
}

TEST_F(LaunchJobs, RefusalsRunNothingAndTouchNothing) {
    const std::string job = makeJob(daemons, "com.example.job");
    const std::string annsPlist = makeJob(daemons, "com.example.anns", rootProgram, {501, 20});
    const std::string writable = makeJob(daemons, "com.example.writable", rootProgram, {}, 0664);
    const std::string apple = makeJob(daemons, "com.apple.job");
    const std::string own = makeJob(daemons, "com.kelto.Sorvane.Helper");
    const std::string system = makeJob(daemons, "com.example.system", "/System/Library/job");
    makeSymlink(job, daemons + "com.example.link.plist");
    makeFile("/Library/Preferences/com.example.job.plist", plistText("com.example.job", rootProgram));

    struct Case {
        const char* what;
        std::string label, plist;
        bool unloadRefused;
    };
    const Case cases[] = {
        {"label differs in case", "com.example.JOB", job, true},
        {"plist owned by ann", "com.example.anns", annsPlist, true},
        {"group-writable plist", "com.example.writable", writable, false},
        {"Apple's job", "com.apple.job", apple, true},
        {"the helper's own job", "com.kelto.Sorvane.Helper", own, true},
        {"program in /System", "com.example.system", system, false},
        {"plist through a link", "com.example.job", daemons + "com.example.link.plist", true},
        {"outside the job folders", "com.example.job", "/Library/Preferences/com.example.job.plist", true},
        {"missing plist", "com.example.none", daemons + "com.example.none.plist", true},
        {"holding folder missing", "com.example.job", daemons + "gone/com.example.job.plist", true},
        {"not canonical", "com.example.job", "/Library/LaunchDaemons/./com.example.job.plist", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const bool existed = exists(c.plist);
        EXPECT_EQ(setJob(ann, true, c.label, c.plist), notAllowed);
        EXPECT_EQ(setJob(ann, false, c.label, c.plist), notAllowed);
        if (c.unloadRefused) {
            EXPECT_EQ(unload(ann, false, c.label, c.plist), notAllowed);
            EXPECT_EQ(unload(ann, true, c.label, c.plist), notAllowed);
        }
        EXPECT_EQ(exists(c.plist), existed);
        EXPECT_EQ(launchctlRuns(), Runs{});
    }
    EXPECT_EQ(readFile(job), plistText("com.example.job", rootProgram));
}

TEST_F(LaunchJobs, EnablingNeedsAProgramNoOtherUserCouldReplace) {
    makeFile("/private/tmp/job/prog", "#!/bin/sh\n", {}, 0755);
    struct Case {
        const char* what;
        const User& user;
        std::string folder;
        std::optional<std::string> program;
    };
    const Case cases[] = {
        {"program below /private/tmp", ann, daemons, "/private/tmp/job/prog"},
        {"no program", ann, daemons, std::nullopt},
        {"missing program", ann, daemons, "/usr/local/libexec/none"},
        {"ann's program as a daemon", ann, daemons, annsProgram},
        {"ann's agent program, enabled by bob", bob, agents, annsProgram},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        makeFile(calls, "");
        const std::string plist = makeJob(c.folder, "com.example.job", c.program);
        EXPECT_EQ(setJob(c.user, true, "com.example.job", plist), replaceable);
        EXPECT_EQ(launchctlRuns(), Runs{});
        EXPECT_EQ(setJob(c.user, false, "com.example.job", plist), nullptr);
        EXPECT_EQ(launchctlRuns().size(), 2u);
        removeAll(plist);
    }
}

TEST_F(LaunchJobs, LaunchctlFailuresAndTheirTolerance) {
    const std::string plist = makeJob(daemons, "com.example.job");
    const Runs enabling{{"enable", "system/com.example.job"}, {"bootstrap", "system", plist}};
    const Runs disabling{{"disable", "system/com.example.job"}, {"bootout", "system/com.example.job"}};
    const std::vector<std::string> lookup{"print", "system/com.example.job"};
    auto with = [](Runs runs, const std::vector<std::string>& more) {
        runs.push_back(more);
        return runs;
    };
    struct Case {
        const char* what;
        std::string rules;
        bool enabled;
        json reply;
        Runs runs;
    };
    const Case cases[] = {
        {"enable fails", "enable\t1\t\tno permission\\n\n", true, "launchctl enable failed (1): no permission",
         {enabling[0]}},
        {"bootstrap fails, job loaded anyway", "bootstrap\t5\t\tBootstrap failed: 5: Input/output error\\n\n", true,
         nullptr, with(enabling, lookup)},
        {"bootstrap fails, job not loaded",
         "bootstrap\t5\t\tBootstrap failed: 5: Input/output error\\n\nprint\t113\t\tCould not find service\\n\n", true,
         "launchctl bootstrap failed (5): Bootstrap failed: 5: Input/output error", with(enabling, lookup)},
        {"bootstrap killed, job not loaded", "bootstrap\tkill\tpartial\t\nprint\t113\t\t\n", true,
         "launchctl bootstrap failed (9): partial", with(enabling, lookup)},
        {"disable fails", "disable\t3\tout only\\n\t\n", false, "launchctl disable failed (3): out only",
         {disabling[0]}},
        {"bootout fails, job was not loaded", "bootout\t3\t\tNo such process\\n\nprint\t113\t\t\n", false, nullptr,
         with(disabling, lookup)},
        {"bootout fails, job still loaded", "bootout\t3\t\t\xff odd\\n\n", false,
         "launchctl bootout failed (3): \uFFFD odd", with(disabling, lookup)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        makeFile(rules, c.rules);
        makeFile(calls, "");
        EXPECT_EQ(setJob(ann, c.enabled, "com.example.job", plist), c.reply);
        EXPECT_EQ(launchctlRuns(), c.runs);
    }
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

    EXPECT_EQ(launchctlRuns(), (Runs{
                                   {"bootout", "system/com.example.deleted"},
                                   {"bootout", "gui/501/com.example.trashed"},
                                   {"bootout", "system/com.example.kept"},
                               }));
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
    const std::string input = json({"launch-job", "enable", "com.example.job", plist}).dump() + "\n" +
                              json({"version"}).dump() + "\n" +
                              json({"launch-job", "enable", "com.apple.job", plist}).dump() + "\n";
    auto run = runAs(ann, sorvanectlPath, {"session"}, input);
    ASSERT_EQ(run.status, 0) << run.error;

    std::vector<json> replies;
    std::istringstream lines(run.output);
    for (std::string line; std::getline(lines, line);) replies.push_back(json::parse(line));
    // The refusal and the version come back while the first request still waits for launchctl.
    EXPECT_EQ(replies, (std::vector<json>{
                           {{"line", 2}, {"reply", "1.6"}},
                           {{"line", 3}, {"reply", notAllowed}},
                           {{"line", 1}, {"reply", nullptr}},
                       }));
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
