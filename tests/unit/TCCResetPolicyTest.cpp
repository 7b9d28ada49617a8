#include "shared/TCCResetPolicy.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using TCCResetPolicy::Rejection;

std::string identifierOfLength(size_t bytes) {
    // "com." followed by letters: one long second piece.
    return "com." + std::string(bytes - 4, 'a');
}

TEST(TCCResetPolicy, EveryListedServiceMayBeResetAndOnlyInItsOwnCase) {
    ASSERT_EQ(TCCResetPolicy::services.size(), 33u);
    EXPECT_EQ(TCCResetPolicy::services.front(), "Accessibility");
    EXPECT_EQ(TCCResetPolicy::services.back(), "Willow");
    for (std::string_view service : TCCResetPolicy::services) {
        std::string name(service);
        EXPECT_EQ(TCCResetPolicy::validate(name, "com.example.App"), std::nullopt) << name;
        std::string lower, upper;
        for (char c : name) {
            lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        EXPECT_EQ(TCCResetPolicy::validate(lower, "com.example.App"), Rejection::unknownService) << lower;
        EXPECT_EQ(TCCResetPolicy::validate(upper, "com.example.App"), Rejection::unknownService) << upper;
        EXPECT_EQ(TCCResetPolicy::validate(name + " ", "com.example.App"), Rejection::unknownService) << name;
    }
    for (const char* other : {"", "All", "SystemPolicy", "Location", "Accessibility\n"})
        EXPECT_EQ(TCCResetPolicy::validate(other, "com.example.App"), Rejection::unknownService) << other;
}

TEST(TCCResetPolicy, ReverseDNSPieceRules) {
    const std::pair<std::string, bool> cases[] = {
        {"", false},
        {"com", false},                 // one piece
        {".com.example", false},        // leading dot
        {"com.example.", false},        // trailing dot
        {"com..example", false},        // doubled dot
        {".", false},
        {"com.-example", false},        // piece begins with "-"
        {"com._example", false},        // piece begins with "_"
        {"-com.example", false},
        {"com.exa mple", false},        // space
        {"com.exa/mple", false},
        {"com.exämple", false},         // not ASCII
        {std::string("com.ex\0ample", 12), false},
        {"com.example", true},
        {"a.b", true},
        {"1password.app", true},        // piece begins with a digit
        {"com.9", true},
        {"com.my-app_x", true},         // "-" and "_" after the first character
        {"com.a-_-_", true},
        {"COM.Example.APP", true},
        {identifierOfLength(255), true},
        {identifierOfLength(256), false},
    };
    for (const auto& [identifier, valid] : cases)
        EXPECT_EQ(TCCResetPolicy::isReverseDNS(identifier), valid) << identifier;
}

TEST(TCCResetPolicy, AppleClients) {
    const std::pair<const char*, bool> cases[] = {
        {"com.apple", true},        {"COM.APPLE", true},          {"com.apple.Safari", true},
        {"Com.Apple.finder", true}, {"com.apple.a.b", true},      {"com.applesauce.App", false},
        {"com.apple-x.App", false}, {"com.apples", false},        {"org.apple.App", false},
        {"apple.com", false},       {"com.example.apple", false},
    };
    for (const auto& [identifier, apple] : cases) {
        EXPECT_EQ(TCCResetPolicy::isAppleClient(identifier), apple) << identifier;
        EXPECT_EQ(TCCResetPolicy::validate("Camera", identifier),
                  apple ? std::optional(Rejection::appleClient) : std::nullopt)
            << identifier;
    }
}

TEST(TCCResetPolicy, FirstFailingCheckWins) {
    const std::tuple<const char*, std::string, std::optional<Rejection>> cases[] = {
        {"camera", "no dots", Rejection::unknownService},
        {"Nope", "com.apple.Safari", Rejection::unknownService},
        {"Nope", "com.kelto.Sorvane", Rejection::unknownService},
        {"Camera", "com..apple", Rejection::invalidBundleID},
        {"Camera", "com.apple.", Rejection::invalidBundleID},
        {"Camera", "com.apple.Safari", Rejection::appleClient},
        {"Camera", "com.kelto.Sorvane", Rejection::protectedClient},
        {"Camera", "COM.KELTO.SORVANE", Rejection::protectedClient},
        {"Camera", "com.kelto.Sorvane.Helper", Rejection::protectedClient},
        {"Camera", "com.Kelto.sorvane.HELPER", Rejection::protectedClient},
        {"Camera", "com.kelto.Sorvane.Helper2", std::nullopt},
        {"Camera", "com.kelto.Sorvane.Helper.x", std::nullopt},
        {"Camera", "com.kelto", std::nullopt},
    };
    for (const auto& [service, identifier, expected] : cases)
        EXPECT_EQ(TCCResetPolicy::validate(service, identifier), expected) << service << " " << identifier;
}

TEST(TCCResetPolicy, ArgumentsPassTheTextsAsReceived) {
    EXPECT_EQ(TCCResetPolicy::arguments("SystemPolicyAllFiles", "Com.Example.App"),
              (std::vector<std::string>{"reset", "SystemPolicyAllFiles", "Com.Example.App"}));
    EXPECT_EQ(TCCResetPolicy::arguments("Camera", "com.apple.Safari"), std::nullopt);
    EXPECT_EQ(TCCResetPolicy::arguments("camera", "com.example.App"), std::nullopt);
    EXPECT_EQ(TCCResetPolicy::arguments("Camera", "com.kelto.sorvane"), std::nullopt);
    EXPECT_EQ(TCCResetPolicy::arguments("Camera", "-rf.x"), std::nullopt);
}

TEST(TCCResetPolicy, ProtectedClientsAreStoredLowerCased) {
    EXPECT_EQ(TCCResetPolicy::protectedClients(),
              (std::set<std::string, std::less<>>{"com.kelto.sorvane", "com.kelto.sorvane.helper"}));
}

}  // namespace
