// The privacy reset: which pairs may be reset (through the policy tool's ops),
// and the reply made of the tool's run.
#include "helper/PrivacyReset.h"
#include "shared/TCCResetPolicy.h"
#include "support/PolicyCases.h"

#include <gtest/gtest.h>

using namespace Helper;

namespace {

using nlohmann::json;

json tcc(const std::string& service, const std::string& bundle) {
    return policyAnswer({{"op", "tcc"}, {"service", service}, {"bundle", bundle}});
}

TEST(PrivacyReset, PolicyFirstFailingCheckWins) {
    const std::tuple<const char*, std::string, json> cases[] = {
        {"camera", "no dots", "unknownService"}, {"Camera ", "com.example", "unknownService"},
        {"Nope", "com.apple.Safari", "unknownService"}, {"Camera", "com..apple", "invalidBundleID"},
        {"Camera", "", "invalidBundleID"}, {"Camera", "com", "invalidBundleID"}, {"Camera", ".com.x", "invalidBundleID"},
        {"Camera", "com.apple.", "invalidBundleID"}, {"Camera", "com.-x", "invalidBundleID"},
        {"Camera", "com._x", "invalidBundleID"}, {"Camera", "-com.x", "invalidBundleID"},
        {"Camera", "com.ex mple", "invalidBundleID"}, {"Camera", "com.ex/mple", "invalidBundleID"},
        {"Camera", "com.ex\u00e4mple", "invalidBundleID"}, {"Camera", std::string("com.ex\0a", 8), "invalidBundleID"},
        {"Camera", "com." + std::string(252, 'a'), "invalidBundleID"}, {"Camera", "com." + std::string(251, 'a'), nullptr},
        {"Camera", "1password.app", nullptr}, {"Camera", "com.9", nullptr}, {"Camera", "com.my-app_x", nullptr},
        {"Camera", "COM.APPLE", "appleClient"}, {"Camera", "Com.Apple.finder", "appleClient"},
        {"Camera", "com.applesauce.App", nullptr}, {"Camera", "com.apple-x.App", nullptr},
        {"Camera", "org.apple.App", nullptr}, {"Camera", "com.example.apple", nullptr},
        {"Camera", "com.kelto.Sorvane", "protectedClient"}, {"Camera", "com.Kelto.sorvane.HELPER", "protectedClient"},
        {"Camera", "com.kelto.Sorvane.Helper2", nullptr}, {"Camera", "com.kelto.Sorvane.Helper.x", nullptr},
        {"Camera", "com.kelto", nullptr},
    };
    for (const auto& [service, bundle, expected] : cases) EXPECT_EQ(tcc(service, bundle), expected) << service << " " << bundle;
    for (std::string_view service : TCCResetPolicy::services) {
        const std::string name(service);
        EXPECT_EQ(tcc(name, "com.example.App"), nullptr) << name;
        EXPECT_EQ(tcc(upper(name), "com.example.App"), "unknownService") << name;
    }
    EXPECT_EQ(policyAnswer({{"op", "tcc-arguments"}, {"service", "Willow"}, {"bundle", "Com.Example.App"}}),
              json({"reset", "Willow", "Com.Example.App"}));
    EXPECT_EQ(policyAnswer({{"op", "tcc-arguments"}, {"service", "Willow"}, {"bundle", "com.apple.x"}}), nullptr);
}

ChildProcess::Result ran(int status, std::string output) {
    ChildProcess::Result result;
    result.launched = true;
    result.status = status;
    result.output = std::move(output);
    return result;
}

TEST(PrivacyReset, ReplyFromTheToolsRun) {
    ChildProcess::Result unlaunched;
    unlaunched.launchError = "No such file or directory";
    const std::tuple<const char*, ChildProcess::Result, std::optional<std::string>> cases[] = {
        {"success, output discarded", ran(0, "warning: something\n"), std::nullopt},
        {"failure text trimmed", ran(1, " \t\nNo such bundle identifier\n\n"), "No such bundle identifier"},
        {"inner line ends kept", ran(70, "first\nsecond\n"), "first\nsecond"},
        {"blank output", ran(1, " \n\t\r\n "), "tccutil failed"},
        {"non-breaking and ideographic spaces trimmed", ran(1, "\u00a0bad\u3000"), "bad"},
        {"invalid UTF-8 repaired", ran(1, "caf\xE9 \xFF\n"), "caf\uFFFD \uFFFD"},
        {"not launched", unlaunched, "No such file or directory"},
    };
    for (const auto& [what, run, expected] : cases) EXPECT_EQ(privacyResetReply(run), expected) << what;
    int replies = 0;
    resetPrivacyPermission("Camera", "com.apple.Safari", [&](std::optional<std::string> text) {
        ++replies;
        EXPECT_EQ(text, "Permission reset is not allowed");
    });
    EXPECT_EQ(replies, 1);
}

}  // namespace
