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

TEST(LaunchJobPlan, FailureTexts) {
    // clang-format off
    const std::pair<json, json> cases[] = {
        {failure({"bootstrap", "system", "/p"}, 3, "out", "Failed: 5\n"), "launchctl bootstrap failed (3): Failed: 5"},
        {failure({"enable", "system/x"}, 1, "\n\n", ""), "launchctl enable failed (1)"},
        {failure({"bootout", "system/x"}, 113, "shown output", " "), "launchctl bootout failed (113)"},
        {failure({"bootout", "system/x"}, -9, "  shown output\n", ""), "launchctl bootout failed (-9): shown output"},
    };
    // clang-format on
    for (const auto& [request, result] : cases) EXPECT_EQ(policyAnswer(request), result) << request;
}

TEST(LaunchJobPlan, ChangeSequence) {
    const std::string plist = "/Library/LaunchDaemons/j.plist";
    const Arguments enable{"enable", "system/j"}, bootstrap{"bootstrap", "system", plist};
    const Arguments disable{"disable", "system/j"}, bootout{"bootout", "system/j"}, print{"print", "system/j"};
    const LaunchctlResult failed{5, "out\n", "Boom\n"}, absent{113, "", "Could not find service\n"};
    // Whether the job is turned on, each verb's answer (success when not listed), the runs made, the reply.
    // clang-format off
    const std::tuple<bool, std::map<std::string, LaunchctlResult>, std::vector<Arguments>, const char*> cases[] = {
        {true, {}, {enable, bootstrap}, nullptr},
        {true, {{"enable", failed}}, {enable}, "launchctl enable failed (5): Boom"},
        {true, {{"bootstrap", failed}}, {enable, bootstrap, print}, nullptr},  // loaded after all
        {true, {{"bootstrap", failed}, {"print", absent}}, {enable, bootstrap, print},
         "launchctl bootstrap failed (5): Boom"},
        {false, {}, {disable, bootout}, nullptr},
        {false, {{"bootout", failed}, {"print", absent}}, {disable, bootout, print}, nullptr},  // was not loaded
        {false, {{"bootout", failed}}, {disable, bootout, print}, "launchctl bootout failed (5): Boom"},
    };
    // clang-format on
    for (const auto& [enabled, answers, runs, reply] : cases) {
        std::vector<Arguments> ran;
        const auto answer =
            LaunchJobPlan::apply("system", "j", plist, enabled, [&, &answers = answers](const Arguments& arguments) {
                ran.push_back(arguments);
                auto it = answers.find(arguments.front());
                return it == answers.end() ? LaunchctlResult{0, "", ""} : it->second;
            });
        EXPECT_EQ(answer, reply ? std::optional<std::string>(reply) : std::nullopt) << testing::PrintToString(runs);
        EXPECT_EQ(ran, runs);
    }
}

}  // namespace
