// The privacy reset: which pairs may be reset (through the policy tool's ops),
// and the reply made of the tool's run.
#include "helper/PrivacyReset.h"
#include "support/PolicyCases.h"

#include <gtest/gtest.h>

using namespace Helper;

namespace {

using nlohmann::json;

TEST(PrivacyReset, WhichPairsMayBeReset) {
    const auto tcc = [](const std::string& service, const std::string& bundle) {
        return policyAnswer({{"op", "tcc"}, {"service", service}, {"bundle", bundle}});
    };
    EXPECT_EQ(tcc("camera", "no dots"), "unknownService");  // the first failing check wins
    EXPECT_EQ(tcc("Camera ", "com.example"), "unknownService");
    // clang-format off
    const std::pair<std::string, json> bundles[] = {
        {"com..apple", "invalidBundleID"}, {"", "invalidBundleID"}, {"com", "invalidBundleID"},
        {"com.apple.", "invalidBundleID"}, {"com.-x", "invalidBundleID"}, {"com.ex\u00e4mple", "invalidBundleID"},
        {"a." + std::string(254, 'b'), "invalidBundleID"}, {"a." + std::string(253, 'b'), nullptr},
        {"1password.app", nullptr}, {"com.my-app_x.Z", nullptr}, {"com.applesauce.App", nullptr},
        {"COM.APPLE", "appleClient"}, {"Com.Apple.finder", "appleClient"}, {"com.kelto.Sorvane.Helper2", nullptr},
        {"com.kelto.Sorvane", "protectedClient"}, {"com.Kelto.sorvane.HELPER", "protectedClient"},
    };
    // clang-format on
    for (const auto& [bundle, expected] : bundles) EXPECT_EQ(tcc("Camera", bundle), expected) << bundle;
}

TEST(PrivacyReset, ReplyFromTheToolsRun) {
    // clang-format off
    const std::tuple<int, std::string, std::optional<std::string>> cases[] = {
        {0, "warning: something\n", std::nullopt},
        {1, " \n\t\r\n ", "tccutil failed"},
        {1, "caf\xE9 \xFF\n", "caf\uFFFD \uFFFD"},
    };
    // clang-format on
    for (const auto& [status, output, expected] : cases)
        EXPECT_EQ(privacyResetReply(status, output), expected) << output;
}

}  // namespace
