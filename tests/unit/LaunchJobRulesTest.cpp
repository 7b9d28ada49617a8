// The launch-job rules: plain decisions through the policy tool's ops, the
// rules over a job's facts directly.
#include "shared/LaunchJobRules.h"
#include "support/PolicyCases.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

using nlohmann::json;

TEST(LaunchJobRules, FoldersLabelsAndPrograms) {
    EXPECT_EQ(policyAnswer({{"op", "launch-program"}, {"program", "/SYSTEM"}, {"resolved", nullptr}}), false);
    EXPECT_EQ(policyAnswer({{"op", "launch-program"}, {"program", "/SystemTools/x"}, {"resolved", "/a/System"}}), true);
    for (const char* path : {"/Library/LaunchDaemons/.hidden.plist", "/Library/LaunchDaemons/abc.PLIST",
                             "/Library/LaunchDaemons/sub/abc.plist", "/library/launchdaemons/abc.plist",
                             "/Library/LaunchDaemons//abc.plist", "/Users/ann/Library/LaunchAgents/abc.plist"})
        EXPECT_EQ(policyAnswer({{"op", "launch-folder"}, {"path", path}}), nullptr) << path;
    // clang-format off
    const std::pair<std::string, bool> labels[] = {
        {"0day.job", true}, {"A_b-c@d.eZ", true}, {"com.applex.foo", true}, {"com.kelto.SorvaneHelper", true},
        {"", false}, {"-job", false}, {"com.ex\u00e4mple", false}, {"com.apple", false}, {"COM.Apple.foo", false},
        {"com.kelto.sorvane", false}, {"COM.KELTO.SORVANE.anything", false},
        {std::string(255, 'a'), true}, {std::string(256, 'a'), false},
    };
    // clang-format on
    for (const auto& [label, allowed] : labels)
        EXPECT_EQ(policyAnswer({{"op", "launch-label"}, {"label", label}}), allowed) << label;
}

// A daemon job that passes every rule; each case changes one thing. The
// client asking is 501.
LaunchJobFacts goodDaemon() {
    return {"/Library/LaunchDaemons/com.example.job.plist",
            "/Library/LaunchDaemons/com.example.job.plist",
            true,
            0u,
            false,
            "com.example.job",
            "/usr/local/bin/job",
            "/usr/local/bin/job",
            ProgramIntegrity{true, 0, false, 0, false, false}};
}

// Each case's answers, in the order toggle, enable, unload: 1 allowed, 0 refused.
TEST(LaunchJobRules, ToggleEnableAndUnloadRules) {
    using F = LaunchJobFacts&;
    const auto agent = [](F f) { f.resolvedPath = f.plistPath = "/Library/LaunchAgents/com.example.job.plist"; };
    const struct {
        const char* name;
        std::function<void(F)> change;
        std::string answers;
        std::string label = "com.example.job";
    } cases[] = {
        {"good daemon", [](F) {}, "111"},
        {"agent", agent, "111"},
        {"outside the job folders", [](F f) { f.resolvedPath = f.plistPath = "/Library/x.plist"; }, "000"},
        {"not a regular file", [](F f) { f.isRegularFile = false; }, "000"},
        {"reached through a link", [](F f) { f.resolvedPath = "/private/var/j.plist"; }, "000"},
        {"owned by ann", [](F f) { f.ownerUID = 501; }, "000"},
        {"group-writable, root-owned", [](F f) { f.writableByOthers = true; }, "001"},
        {"label differs in case", [](F) {}, "000", "com.example.JOB"},
        {"no label in plist", [](F f) { f.label.reset(); }, "000"},
        {"Apple's label", [](F f) { f.label = "com.apple.job"; }, "000", "com.apple.job"},
        {"label by canonical equivalence", [](F f) { f.label = "com.example.\u212Aob"; }, "111", "com.example.Kob"},
        {"label with a byte that is no UTF-8", [](F f) { f.label = "com.example.job\xff"; }, "000"},
        {"program resolving into /System", [](F f) { f.resolvedProgram = "/System/job"; }, "001"},
        {"no program",
         [](F f) {
             f.program = f.resolvedProgram = std::nullopt;
             f.programIntegrity.reset();
         },
         "101"},
        {"ann's program", [](F f) { f.programIntegrity->ownerUID = 501; }, "101"},
        {"ann's program, agent",
         [&](F f) {
             agent(f);
             f.programIntegrity->ownerUID = 501;
         },
         "111"},
        {"ann's folder", [](F f) { f.programIntegrity->parentOwnerUID = 501; }, "101"},
        {"writable program", [](F f) { f.programIntegrity->writableByOthers = true; }, "101"},
        {"writable folder", [](F f) { f.programIntegrity->parentWritableByOthers = true; }, "101"},
        {"world-writable folder above", [](F f) { f.programIntegrity->underWorldWritableFolder = true; }, "101"},
    };
    for (const auto& c : cases) {
        LaunchJobFacts facts = goodDaemon();
        c.change(facts);
        const std::string answers = {char('0' + SafetyPolicy::privilegedLaunchJobToggleAllowed(c.label, facts)),
                                     char('0' + SafetyPolicy::privilegedLaunchJobEnableAllowed(c.label, facts, 501)),
                                     char('0' + SafetyPolicy::privilegedLaunchJobUnloadAllowed(c.label, facts))};
        EXPECT_EQ(answers, c.answers) << c.name;
    }
}

}  // namespace
