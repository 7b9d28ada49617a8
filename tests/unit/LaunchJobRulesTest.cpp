// The launch-job rules: plain decisions through the policy tool's ops, the
// rules over a job's facts directly.
#include "shared/LaunchJobRules.h"
#include "support/PolicyCases.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

using nlohmann::json;

json launch(json request) { return policyAnswer(request); }

TEST(LaunchJobRules, FoldersLabelsAndPrograms) {
    const std::pair<json, json> cases[] = {
        {{{"op", "launch-folder"}, {"path", "/Library/LaunchDaemons/a.plist"}}, "daemons"},
        {{{"op", "launch-folder"}, {"path", "/Library/LaunchAgents/com.example.agent.plist"}}, "agents"},
        {{{"op", "launch-domain"}, {"folder", "daemons"}, {"uid", 501}}, "system"},
        {{{"op", "launch-domain"}, {"folder", "agents"}, {"uid", 4294967295u}}, "gui/4294967295"},
        {{{"op", "launch-program"}, {"program", nullptr}, {"resolved", nullptr}}, true},
        {{{"op", "launch-program"}, {"program", "/SYSTEM"}, {"resolved", nullptr}}, false},
        {{{"op", "launch-program"}, {"program", "/system/library/x"}, {"resolved", nullptr}}, false},
        {{{"op", "launch-program"}, {"program", nullptr}, {"resolved", "/System/x"}}, false},
        {{{"op", "launch-program"}, {"program", "/usr/local/bin/job"}, {"resolved", "/System/Library/x"}}, false},
        {{{"op", "launch-program"}, {"program", "/SystemTools/job"}, {"resolved", "/SystemTools/job"}}, true},
        {{{"op", "launch-program"}, {"program", "/Library/System/x"}, {"resolved", nullptr}}, true},
        {{{"op", "launch-program"}, {"program", "relative/job"}, {"resolved", nullptr}}, true},
    };
    for (const auto& [request, result] : cases) EXPECT_EQ(launch(request), result) << request;
    for (const char* path : {"/Library/LaunchDaemons/.plist", "/Library/LaunchDaemons/.hidden.plist",
                             "/Library/LaunchDaemons/abc.PLIST", "/Library/LaunchDaemons/abc.plist.bak",
                             "/Library/LaunchDaemons/sub/abc.plist", "/library/launchdaemons/abc.plist",
                             "/Library/LaunchDaemons//abc.plist", "/Library/LaunchDaemons/./abc.plist",
                             "Library/LaunchDaemons/abc.plist", "/Users/ann/Library/LaunchAgents/abc.plist",
                             "/Library/LaunchDaemons", ""})
        EXPECT_EQ(launch({{"op", "launch-folder"}, {"path", path}}), nullptr) << path;
    const std::pair<std::string, bool> labels[] = {
        {"0day.job", true}, {"a", true}, {"A_b-c@d.e", true}, {"", false}, {"-job", false}, {"_job", false},
        {".job", false}, {"@job", false}, {"com.example job", false}, {"com/example", false}, {"com.exämple", false},
        {"com.example\n", false}, {std::string("com.ex\0ample", 12), false}, {"com.apple", false}, {"COM.Apple.foo", false},
        {"com.applex.foo", true}, {"com.kelto.sorvane.helper", false}, {"COM.KELTO.SORVANE.anything", false},
        {"com.kelto.SorvaneHelper", true}, {"com.kelto", true}, {std::string(255, 'a'), true}, {std::string(256, 'a'), false},
    };
    for (const auto& [label, allowed] : labels) EXPECT_EQ(launch({{"op", "launch-label"}, {"label", label}}), allowed) << label;
    EXPECT_EQ(PrivilegedLaunchFolder::allowedOwners(PrivilegedLaunchFolder::agents, 501), (std::set<uint32_t>{0, 501}));
    EXPECT_EQ(PrivilegedLaunchFolder::allowedOwners(PrivilegedLaunchFolder::agents, 0), std::set<uint32_t>{0});
    EXPECT_EQ(PrivilegedLaunchFolder::allowedOwners(PrivilegedLaunchFolder::daemons, 501), std::set<uint32_t>{0});
}

TEST(LaunchJobRules, IntegrityRule) {
    const ProgramIntegrity good{true, 0, false, 0, false, false};
    auto with = [&](const std::function<void(ProgramIntegrity&)>& change) {
        ProgramIntegrity p = good;
        change(p);
        return std::optional<ProgramIntegrity>(p);
    };
    const std::set<uint32_t> root{0}, rootAndAnn{0, 501}, none{};
    const std::tuple<const char*, std::optional<ProgramIntegrity>, std::set<uint32_t>, bool> cases[] = {
        {"root-owned program in a root folder", good, root, true},
        {"absent", std::nullopt, root, false},
        {"no owners allowed", good, none, false},
        {"not a regular file", with([](auto& p) { p.isRegularFile = false; }), root, false},
        {"program owned by ann", with([](auto& p) { p.ownerUID = 501; }), root, false},
        {"program owned by ann, ann allowed", with([](auto& p) { p.ownerUID = 501; }), rootAndAnn, true},
        {"ann's program in ann's folder", with([](auto& p) { p.ownerUID = p.parentOwnerUID = 501; }), rootAndAnn,
         true},
        {"folder owned by bob", with([](auto& p) { p.parentOwnerUID = 502; }), rootAndAnn, false},
        {"writable program", with([](auto& p) { p.writableByOthers = true; }), root, false},
        {"writable folder", with([](auto& p) { p.parentWritableByOthers = true; }), root, false},
        {"world-writable folder above", with([](auto& p) { p.underWorldWritableFolder = true; }), root, false},
    };
    for (const auto& [name, integrity, owners, trusted] : cases)
        EXPECT_EQ(SafetyPolicy::launchProgramTrusted(integrity, owners), trusted) << name;
}

// A daemon job that passes every rule; each case changes one thing.
LaunchJobFacts goodDaemon() {
    return {"/Library/LaunchDaemons/com.example.job.plist", "/Library/LaunchDaemons/com.example.job.plist", true, 0u,
            false, "com.example.job", "/usr/local/bin/job", "/usr/local/bin/job",
            ProgramIntegrity{true, 0, false, 0, false, false}};
}

TEST(LaunchJobRules, ToggleEnableAndUnloadRules) {
    using F = LaunchJobFacts&;
    const ProgramIntegrity anns{true, 501, false, 501, false, false}, inTmp{true, 0, false, 0, true, true};
    const struct {
        const char* name;
        std::function<void(F)> change;
        std::string label;
        bool toggle, enable, unload;
    } cases[] = {
        {"good daemon", [](F) {}, "com.example.job", true, true, true},
        {"agent", [](F f) { f.resolvedPath = f.plistPath = "/Library/LaunchAgents/j.plist"; }, "com.example.job", true, true, true},
        {"outside the job folders", [](F f) { f.resolvedPath = f.plistPath = "/Library/Preferences/j.plist"; },
         "com.example.job", false, false, false},
        {"not a regular file", [](F f) { f.isRegularFile = false; }, "com.example.job", false, false, false},
        {"reached through a link", [](F f) { f.resolvedPath = "/private/var/jobs/j.plist"; }, "com.example.job", false, false, false},
        {"missing plist", [](F f) { f.resolvedPath.reset(); }, "com.example.job", false, false, false},
        {"owned by ann", [](F f) { f.ownerUID = 501; }, "com.example.job", false, false, false},
        {"owner unknown", [](F f) { f.ownerUID.reset(); }, "com.example.job", false, false, false},
        {"group-writable, root-owned", [](F f) { f.writableByOthers = true; }, "com.example.job", false, false, true},
        {"label differs in case", [](F) {}, "com.example.JOB", false, false, false},
        {"no label in plist", [](F f) { f.label.reset(); }, "com.example.job", false, false, false},
        {"Apple's label", [](F f) { f.label = "com.apple.job"; }, "com.apple.job", false, false, false},
        {"the helper's own job", [](F f) {
             f.label = "com.kelto.Sorvane.Helper";
             f.resolvedPath = f.plistPath = "/Library/LaunchDaemons/com.kelto.Sorvane.Helper.plist";
         }, "com.kelto.Sorvane.Helper", false, false, false},
        {"program in /System", [](F f) { f.program = f.resolvedProgram = "/System/Library/job"; }, "com.example.job", false, false, true},
        {"program resolving into /System", [](F f) { f.resolvedProgram = "/System/Library/job"; }, "com.example.job", false, false, true},
        {"no program", [](F f) { f.program = f.resolvedProgram = std::nullopt; f.programIntegrity.reset(); },
         "com.example.job", true, false, true},
        {"program missing", [](F f) { f.resolvedProgram.reset(); f.programIntegrity.reset(); }, "com.example.job", true, false, true},
        {"program under /private/tmp", [&](F f) { f.programIntegrity = inTmp; }, "com.example.job", true, false, true},
        {"ann's program as a daemon", [&](F f) { f.programIntegrity = anns; }, "com.example.job", true, false, true},
        {"label by canonical equivalence", [](F f) { f.label = "com.example.\u212Aob"; }, "com.example.Kob", true, true, true},
        {"label with a byte that is no UTF-8", [](F f) { f.label = "com.example.job\xff"; }, "com.example.job", false, false, false},
    };
    for (const auto& c : cases) {
        LaunchJobFacts facts = goodDaemon();
        c.change(facts);
        EXPECT_EQ(SafetyPolicy::privilegedLaunchJobToggleAllowed(c.label, facts), c.toggle) << c.name;
        EXPECT_EQ(SafetyPolicy::privilegedLaunchJobEnableAllowed(c.label, facts, 501), c.enable) << c.name;
        EXPECT_EQ(SafetyPolicy::privilegedLaunchJobUnloadAllowed(c.label, facts), c.unload) << c.name;
    }
    // An agent whose program is the client's may be enabled for that client only.
    LaunchJobFacts agent = goodDaemon();
    agent.resolvedPath = agent.plistPath = "/Library/LaunchAgents/com.example.job.plist";
    agent.programIntegrity = anns;
    EXPECT_TRUE(SafetyPolicy::privilegedLaunchJobEnableAllowed("com.example.job", agent, 501));
    EXPECT_FALSE(SafetyPolicy::privilegedLaunchJobEnableAllowed("com.example.job", agent, 502));
}

}  // namespace
