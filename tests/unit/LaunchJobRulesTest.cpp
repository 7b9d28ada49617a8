#include "shared/LaunchJobRules.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

using Folder = std::optional<PrivilegedLaunchFolder>;

TEST(LaunchJobRules, PrivilegedLaunchFolderOfPlistPaths) {
    const std::pair<std::string, Folder> cases[] = {
        {"/Library/LaunchDaemons/abc.plist", PrivilegedLaunchFolder::daemons},
        {"/Library/LaunchAgents/com.example.agent.plist", PrivilegedLaunchFolder::agents},
        {"/Library/LaunchDaemons/a.plist", PrivilegedLaunchFolder::daemons},
        {"/Library/LaunchDaemons/.plist", std::nullopt},
        {"/Library/LaunchDaemons/.hidden.plist", std::nullopt},
        {"/Library/LaunchDaemons/abc.PLIST", std::nullopt},
        {"/Library/LaunchDaemons/abc.plist.bak", std::nullopt},
        {"/Library/LaunchDaemons/abc", std::nullopt},
        {"/Library/LaunchDaemons/sub/abc.plist", std::nullopt},
        {"/library/launchdaemons/abc.plist", std::nullopt},
        {"/Library/LaunchDaemons//abc.plist", std::nullopt},
        {"/Library/LaunchDaemons/abc.plist/", std::nullopt},
        {"/Library/LaunchDaemons/../LaunchDaemons/abc.plist", std::nullopt},
        {"/Library/LaunchDaemons/./abc.plist", std::nullopt},
        {"Library/LaunchDaemons/abc.plist", std::nullopt},
        {"/Users/ann/Library/LaunchAgents/abc.plist", std::nullopt},
        {"/System/Library/LaunchDaemons/abc.plist", std::nullopt},
        {"/Library/LaunchDaemons", std::nullopt},
        {"", std::nullopt},
        {"/", std::nullopt},
    };
    for (const auto& [path, folder] : cases) EXPECT_EQ(SafetyPolicy::privilegedLaunchFolder(path), folder) << path;
}

TEST(LaunchJobRules, DomainsAndOwners) {
    EXPECT_EQ(PrivilegedLaunchFolder::domain(PrivilegedLaunchFolder::daemons, 501), "system");
    EXPECT_EQ(PrivilegedLaunchFolder::domain(PrivilegedLaunchFolder::agents, 501), "gui/501");
    EXPECT_EQ(PrivilegedLaunchFolder::domain(PrivilegedLaunchFolder::agents, 4294967295u), "gui/4294967295");
    EXPECT_EQ(PrivilegedLaunchFolder::allowedOwners(PrivilegedLaunchFolder::daemons, 501), std::set<uint32_t>{0});
    EXPECT_EQ(PrivilegedLaunchFolder::allowedOwners(PrivilegedLaunchFolder::agents, 501),
              (std::set<uint32_t>{0, 501}));
    EXPECT_EQ(PrivilegedLaunchFolder::allowedOwners(PrivilegedLaunchFolder::agents, 0), std::set<uint32_t>{0});
}

TEST(LaunchJobRules, LabelRule) {
    const std::pair<std::string, bool> cases[] = {
        {"com.example.job", true},
        {"0day.job", true},
        {"a", true},
        {"A_b-c@d.e", true},
        {"", false},
        {"-job", false},
        {"_job", false},
        {".job", false},
        {"@job", false},
        {"com.example job", false},
        {"com/example", false},
        {"com.exämple", false},
        {"com.example\n", false},
        {std::string("com.ex\0ample", 12), false},
        {"com.apple", false},
        {"com.apple.foo", false},
        {"COM.Apple.foo", false},
        {"com.APPLE", false},
        {"com.applex", true},
        {"com.applex.foo", true},
        {"com.kelto.Sorvane", false},
        {"com.kelto.Sorvane.Helper", false},
        {"com.kelto.sorvane.helper", false},
        {"COM.KELTO.SORVANE.anything", false},
        {"com.kelto.SorvaneHelper", true},
        {"com.kelto", true},
        {std::string(255, 'a'), true},
        {std::string(256, 'a'), false},
    };
    for (const auto& [label, allowed] : cases) EXPECT_EQ(SafetyPolicy::launchLabelAllowed(label), allowed) << label;
}

TEST(LaunchJobRules, ProgramRule) {
    using P = std::optional<std::string>;
    const std::tuple<P, P, bool> cases[] = {
        {std::nullopt, std::nullopt, true},
        {"/usr/local/bin/job", "/usr/local/bin/job", true},
        {"/System/Library/x", std::nullopt, false},
        {"/system/library/x", std::nullopt, false},
        {"/SYSTEM", std::nullopt, false},
        {"/system", std::nullopt, false},
        {std::nullopt, "/System/x", false},
        {"/usr/local/bin/job", "/System/Library/x", false},
        {"/System/x", "/usr/local/bin/job", false},
        {"/SystemTools/job", "/SystemTools/job", true},
        {"/Systemx", std::nullopt, true},
        {"/Library/System/x", std::nullopt, true},
        {"relative/job", std::nullopt, true},
    };
    for (const auto& [program, resolved, allowed] : cases)
        EXPECT_EQ(SafetyPolicy::launchProgramAllowed(program, resolved), allowed)
            << program.value_or("(none)") << " " << resolved.value_or("(none)");
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
    LaunchJobFacts f;
    f.plistPath = "/Library/LaunchDaemons/com.example.job.plist";
    f.resolvedPath = f.plistPath;
    f.isRegularFile = true;
    f.ownerUID = 0;
    f.label = "com.example.job";
    f.program = "/usr/local/bin/job";
    f.resolvedProgram = f.program;
    f.programIntegrity = ProgramIntegrity{true, 0, false, 0, false, false};
    return f;
}

LaunchJobFacts agentOwnedByAnn() {
    LaunchJobFacts f = goodDaemon();
    f.plistPath = "/Library/LaunchAgents/com.example.job.plist";
    f.resolvedPath = f.plistPath;
    f.program = f.resolvedProgram = "/Users/ann/bin/job";
    f.programIntegrity = ProgramIntegrity{true, 501, false, 501, false, false};
    return f;
}

struct JobCase {
    const char* name;
    std::function<void(LaunchJobFacts&)> change;
    std::string label = "com.example.job";
    bool toggle, enable, unload;
};

TEST(LaunchJobRules, ToggleEnableAndUnloadRules) {
    auto none = [](LaunchJobFacts&) {};
    const JobCase cases[] = {
        {"good daemon", none, "com.example.job", true, true, true},
        {"agent path", [](auto& f) { f.resolvedPath = f.plistPath = "/Library/LaunchAgents/com.example.job.plist"; },
         "com.example.job", true, true, true},
        {"plist outside the job folders",
         [](auto& f) { f.resolvedPath = f.plistPath = "/Library/Preferences/com.example.job.plist"; },
         "com.example.job", false, false, false},
        {"not a regular file", [](auto& f) { f.isRegularFile = false; }, "com.example.job", false, false, false},
        {"reached through a link",
         [](auto& f) { f.resolvedPath = "/private/var/jobs/com.example.job.plist"; }, "com.example.job", false,
         false, false},
        {"missing plist", [](auto& f) { f.resolvedPath.reset(); }, "com.example.job", false, false, false},
        {"owned by ann", [](auto& f) { f.ownerUID = 501; }, "com.example.job", false, false, false},
        {"owner unknown", [](auto& f) { f.ownerUID.reset(); }, "com.example.job", false, false, false},
        {"group-writable, root-owned", [](auto& f) { f.writableByOthers = true; }, "com.example.job", false, false,
         true},
        {"label differs in case", none, "com.example.JOB", false, false, false},
        {"no label in plist", [](auto& f) { f.label.reset(); }, "com.example.job", false, false, false},
        {"Apple's label", [](auto& f) { f.label = "com.apple.job"; }, "com.apple.job", false, false, false},
        {"helper's own label",
         [](auto& f) {
             f.label = "com.kelto.Sorvane.Helper";
             f.resolvedPath = f.plistPath = "/Library/LaunchDaemons/com.kelto.Sorvane.Helper.plist";
         },
         "com.kelto.Sorvane.Helper", false, false, false},
        {"program in /System", [](auto& f) { f.program = f.resolvedProgram = "/System/Library/job"; },
         "com.example.job", false, false, true},
        {"program resolving into /System", [](auto& f) { f.resolvedProgram = "/System/Library/job"; },
         "com.example.job", false, false, true},
        {"no program", [](auto& f) { f.program = f.resolvedProgram = std::nullopt; f.programIntegrity.reset(); },
         "com.example.job", true, false, true},
        {"program missing",
         [](auto& f) {
             f.resolvedProgram.reset();
             f.programIntegrity.reset();
         },
         "com.example.job", true, false, true},
        {"program under /private/tmp",
         [](auto& f) {
             f.program = f.resolvedProgram = "/private/tmp/job";
             f.programIntegrity = ProgramIntegrity{true, 0, false, 0, true, true};
         },
         "com.example.job", true, false, true},
        {"ann's program as a daemon",
         [](auto& f) { f.programIntegrity = ProgramIntegrity{true, 501, false, 501, false, false}; },
         "com.example.job", true, false, true},
    };
    for (const auto& c : cases) {
        LaunchJobFacts facts = goodDaemon();
        c.change(facts);
        EXPECT_EQ(SafetyPolicy::privilegedLaunchJobToggleAllowed(c.label, facts), c.toggle) << c.name;
        EXPECT_EQ(SafetyPolicy::privilegedLaunchJobEnableAllowed(c.label, facts, 501), c.enable) << c.name;
        EXPECT_EQ(SafetyPolicy::privilegedLaunchJobUnloadAllowed(c.label, facts), c.unload) << c.name;
    }
}

TEST(LaunchJobRules, AgentProgramOfTheClientMayBeEnabledOnlyForThatClient) {
    LaunchJobFacts agent = agentOwnedByAnn();
    EXPECT_TRUE(SafetyPolicy::privilegedLaunchJobEnableAllowed("com.example.job", agent, 501));
    EXPECT_FALSE(SafetyPolicy::privilegedLaunchJobEnableAllowed("com.example.job", agent, 502));
    EXPECT_TRUE(SafetyPolicy::privilegedLaunchJobToggleAllowed("com.example.job", agent));
}

TEST(LaunchJobRules, LabelsCompareByCanonicalEquivalence) {
    LaunchJobFacts facts = goodDaemon();
    facts.label = "\u212Aelvin.job";  // KELVIN SIGN, canonically "K"
    EXPECT_TRUE(SafetyPolicy::privilegedLaunchJobToggleAllowed("Kelvin.job", facts));
    facts.label = "com.example.job\xff";
    EXPECT_FALSE(SafetyPolicy::privilegedLaunchJobToggleAllowed("com.example.job", facts));
}

}  // namespace
