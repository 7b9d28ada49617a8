#include "client/CommandWords.h"
#include "platform/transport/WireProtocol.h"

#include <gtest/gtest.h>

using Words = std::vector<std::string>;
using Paths = std::vector<std::string>;

TEST(CommandWords, RequestWordsBecomeSelectorAndArguments) {
    const struct {
        Words words;
        Wire::Selector selector;
        std::vector<Wire::Argument> arguments;
    } cases[] = {
        {{"remove"}, Wire::Selector::removeItems, {Paths{}, false}},
        {{"remove", "--trash", "/Library/Caches/A", "/a b/"},
         Wire::Selector::removeItems,
         {Paths{"/Library/Caches/A", "/a b/"}, true}},
        {{"remove-chosen", "/x", "--trash"}, Wire::Selector::removeChosenItems, {Paths{"/x"}, true}},
        {{"remove-chosen", "--", "-x", ""}, Wire::Selector::removeChosenItems, {Paths{"-x", ""}, false}},
        {{"launch-job", "enable", "com.example.job", "/Library/LaunchDaemons/j.plist"},
         Wire::Selector::setLaunchJob,
         {"com.example.job", "/Library/LaunchDaemons/j.plist", true}},
        {{"reset-privacy", "Camera", "-x.y"}, Wire::Selector::resetPrivacyPermission, {"Camera", "-x.y"}},
        {{"launch-job", "enable", "-L", "--trash"}, Wire::Selector::setLaunchJob, {"-L", "--trash", true}},
        {{"unload-daemon", "--trash", "-L", "P"}, Wire::Selector::unloadLaunchDaemon, {"-L", "P", true}},
        {{"motion", "off"}, Wire::Selector::setMotionSensor, {false}},
    };
    for (const auto& c : cases) {
        const auto parsed = CommandWords::parse(c.words);
        const auto* command = std::get_if<CommandWords::Command>(&parsed);
        ASSERT_NE(command, nullptr) << c.words.front() << ": " << std::get<CommandWords::UsageError>(parsed).message;
        EXPECT_EQ(command->selector, c.selector) << c.words.front();
        EXPECT_EQ(command->arguments, c.arguments) << c.words.front();
    }
}

TEST(CommandWords, OtherWordsAreUsageErrors) {
    // clang-format off
    const Words cases[] = {
        {}, {"session"}, {"versions"}, {"version", "extra"}, {"launch-job", "start", "L", "P"}, {"motion", "yes"},
        {"launch-job", "enable", "L"}, {"unload-daemon", "L"}, {"reset-privacy", "Camera"}, {"motion"},
        {"remove", "--force", "/x"}, {"unload-daemon", "L", "--trash", "P"}, {"unload-daemon", "--trash"},
    };
    // clang-format on
    for (const auto& words : cases) {
        EXPECT_TRUE(std::holds_alternative<CommandWords::UsageError>(CommandWords::parse(words)))
            << (words.empty() ? "(none)" : words.front() + " ...");
    }
}
