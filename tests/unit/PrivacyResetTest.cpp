// The privacy reset: which pairs may be reset (through the policy tool's ops),
// and the reply made of the tool's run.
#include "helper/PrivacyReset.h"
#include "support/PolicyCases.h"

#include <gtest/gtest.h>

using namespace Helper;

namespace {

using nlohmann::json;

// The first failing check wins.
TEST(PrivacyReset, WhichPairsMayBeReset) {
    const std::tuple<const char*, std::string, json> cases[] = {
        {"camera", "no dots", "unknownService"}, {"Camera ", "com.example", "unknownService"},
        {"Camera", "com..apple", "invalidBundleID"}, {"Camera", "", "invalidBundleID"},
        {"Camera", "com", "invalidBundleID"}, {"Camera", "com.apple.", "invalidBundleID"},
        {"Camera", "com.-x", "invalidBundleID"}, {"Camera", "com.ex/mple", "invalidBundleID"},
        {"Camera", "com.ex\u00e4mple", "invalidBundleID"}, {"Camera", "1password.app", nullptr},
        {"Camera", "a." + std::string(254, 'b'), "invalidBundleID"}, {"Camera", "a." + std::string(253, 'b'), nullptr},
        {"Camera", "com.my-app_x.Z", nullptr}, {"Camera", "COM.APPLE", "appleClient"},
        {"Camera", "Com.Apple.finder", "appleClient"}, {"Camera", "com.applesauce.App", nullptr},
        {"Camera", "com.kelto.Sorvane", "protectedClient"}, {"Camera", "com.Kelto.sorvane.HELPER", "protectedClient"},
        {"Camera", "com.kelto.Sorvane.Helper2", nullptr},
    };
    for (const auto& [service, bundle, expected] : cases)
        EXPECT_EQ(policyAnswer({{"op", "tcc"}, {"service", service}, {"bundle", bundle}}), expected) << bundle;
}

ChildProcess::Result ran(int status, std::string output) { return {true, "", status, std::move(output), ""}; }

TEST(PrivacyReset, ReplyFromTheToolsRun) {
    const std::pair<ChildProcess::Result, std::optional<std::string>> cases[] = {
        {ran(0, "warning: something\n"), std::nullopt},
        {ran(70, " \t\nfirst\nsecond\n\n"), "first\nsecond"},
        {ran(1, " \n\t\r\n "), "tccutil failed"},
        {ran(1, "caf\xE9 \xFF\n"), "caf\uFFFD \uFFFD"},
        {{false, "No such file or directory", -1, "", ""}, "No such file or directory"},
    };
    for (const auto& [run, expected] : cases) EXPECT_EQ(privacyResetReply(run), expected) << run.output;
}

}  // namespace
