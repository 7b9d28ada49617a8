#include "helper/PrivacyReset.h"

#include <gtest/gtest.h>

using namespace Helper;

namespace {

ChildProcess::Result ran(int status, std::string output) {
    ChildProcess::Result result;
    result.launched = true;
    result.status = status;
    result.output = std::move(output);
    return result;
}

TEST(PrivacyReset, ReplyFromTheToolsRun) {
    const std::tuple<const char*, ChildProcess::Result, std::optional<std::string>> cases[] = {
        {"success, output discarded", ran(0, "warning: something\n"), std::nullopt},
        {"success, silent", ran(0, ""), std::nullopt},
        {"failure text trimmed", ran(1, " \t\nNo such bundle identifier\n\n"), "No such bundle identifier"},
        {"inner line ends kept", ran(70, "first\nsecond\n"), "first\nsecond"},
        {"blank output", ran(1, " \n\t\r\n "), "tccutil failed"},
        {"no output", ran(2, ""), "tccutil failed"},
        {"non-breaking and ideographic spaces trimmed", ran(1, "\xC2\xA0" "bad\xE3\x80\x80"), "bad"},
        {"invalid UTF-8 repaired", ran(1, "caf\xE9 \xFF\n"), "caf\xEF\xBF\xBD \xEF\xBF\xBD"},
    };
    for (const auto& [what, run, expected] : cases) EXPECT_EQ(privacyResetReply(run), expected) << what;
}

TEST(PrivacyReset, LaunchFailureRepliesWithTheSystemsText) {
    ChildProcess::Result result;
    result.launchError = "No such file or directory";
    EXPECT_EQ(privacyResetReply(result), "No such file or directory");
}

TEST(PrivacyReset, RefusedPairsReplyOnceWithTheFixedText) {
    for (auto pair : {std::pair{"camera", "com.example.App"}, {"Camera", "com.apple.Safari"},
                      {"Camera", "com.kelto.sorvane"}, {"Camera", "nodots"}}) {
        int replies = 0;
        resetPrivacyPermission(pair.first, pair.second, [&](std::optional<std::string> text) {
            ++replies;
            EXPECT_EQ(text, "Permission reset is not allowed") << pair.first << " " << pair.second;
        });
        EXPECT_EQ(replies, 1);
    }
}

}  // namespace
