// The launchctl sequence of a launch-job change and the texts of its failures.
#include "shared/LaunchJobPlan.h"

#include "support/PolicyCases.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using Arguments = std::vector<std::string>;
using nlohmann::json;

json failure(const Arguments& args, int status, const std::string& output, const std::string& error) {
    return {{"op", "launchctl-failure"}, {"args", args}, {"status", status}, {"output", output}, {"error", error}};
}

TEST(LaunchJobPlan, StepsAndFailureTexts) {
    const std::pair<json, json> cases[] = {
        {{{"op", "launch-steps"}, {"domain", "gui/501"}, {"label", "a"}, {"plist", "/p"}, {"enabled", true}},
         {{"persist", {"enable", "gui/501/a"}}, {"live", {"bootstrap", "gui/501", "/p"}}}},
        {{{"op", "launch-steps"}, {"domain", "system"}, {"label", "a"}, {"plist", "/p"}, {"enabled", false}},
         {{"persist", {"disable", "system/a"}}, {"live", {"bootout", "system/a"}}}},
        {failure({"bootstrap", "system", "/p"}, 3, "", "Bootstrap failed: 5: Input/output error\n"),
         "launchctl bootstrap failed (3): Bootstrap failed: 5: Input/output error"},
        {failure({"enable", "system/x"}, 1, "\n\n", ""), "launchctl enable failed (1)"},
        {failure({"bootout", "system/x"}, 113, "shown output", " "), "launchctl bootout failed (113)"},
        {failure({"bootout", "system/x"}, 113, "  shown output\n", ""), "launchctl bootout failed (113): shown output"},
        {failure({}, -1, "", ""), "launchctl  failed (-1)"},
        {failure({"print", "x"}, 0, "", "\u2003odd\u00a0\r\n"), "launchctl print failed (0): odd"},
    };
    for (const auto& [request, result] : cases) EXPECT_EQ(policyAnswer(request), result) << request;
}

// Answers each verb from a script and records every argument list it ran.
struct ScriptedRunner {
    std::map<std::string, LaunchctlResult> answers;
    std::vector<Arguments> calls;

    LaunchJobPlan::Runner runner() {
        return [this](const Arguments& arguments) {
            calls.push_back(arguments);
            auto it = answers.find(arguments.front());
            return it == answers.end() ? LaunchctlResult{0, "", ""} : it->second;
        };
    }
};

struct SequenceCase {
    const char* name;
    bool enabled;
    std::map<std::string, LaunchctlResult> answers;
    std::vector<Arguments> calls;
    std::optional<std::string> answer;
};

TEST(LaunchJobPlan, ChangeSequence) {
    const std::string plist = "/Library/LaunchDaemons/j.plist";
    const Arguments enable{"enable", "system/j"}, bootstrap{"bootstrap", "system", plist};
    const Arguments disable{"disable", "system/j"}, bootout{"bootout", "system/j"}, print{"print", "system/j"};
    const LaunchctlResult failed{5, "out\n", "Boom\n"};
    const LaunchctlResult absent{113, "", "Could not find service\n"};

    const SequenceCase cases[] = {
        {"enable succeeds", true, {}, {enable, bootstrap}, std::nullopt},
        {"enable fails first", true, {{"enable", failed}}, {enable}, "launchctl enable failed (5): Boom"},
        {"bootstrap fails, job is loaded after all", true, {{"bootstrap", failed}}, {enable, bootstrap, print},
         std::nullopt},
        {"bootstrap fails, job not loaded", true, {{"bootstrap", failed}, {"print", absent}},
         {enable, bootstrap, print}, "launchctl bootstrap failed (5): Boom"},
        {"disable succeeds", false, {}, {disable, bootout}, std::nullopt},
        {"disable fails first", false, {{"disable", failed}}, {disable}, "launchctl disable failed (5): Boom"},
        {"bootout fails, job was not loaded", false, {{"bootout", failed}, {"print", absent}},
         {disable, bootout, print}, std::nullopt},
        {"bootout fails, job still loaded", false, {{"bootout", failed}}, {disable, bootout, print},
         "launchctl bootout failed (5): Boom"},
    };
    for (const auto& c : cases) {
        ScriptedRunner fake{c.answers, {}};
        auto answer = LaunchJobPlan::apply("system", "j", plist, c.enabled, fake.runner());
        EXPECT_EQ(answer, c.answer) << c.name;
        EXPECT_EQ(fake.calls, c.calls) << c.name;
    }
}

}  // namespace
