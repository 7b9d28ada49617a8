#include "shared/PathText.h"
#include "shared/UnicodeText.h"

#include <gtest/gtest.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

namespace {

struct PathCase {
    const char* path;
    const char* last;
    const char* parent;
};

TEST(PathText, LastComponentAndParentFollowThePlatformRules) {
    const PathCase cases[] = {
        {"/a/b/c", "c", "/a/b"}, {"/a", "a", "/"},     {"/a/b/", "b", "/a"}, {"/a/b///", "b", "/a"},
        {"/", "/", "/"},         {"///", "/", "/"},    {"a", "a", ""},       {"", "", ""},
        {"a/b", "b", "a"},       {"/a//b", "b", "/a/"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PathText::lastPathComponent(c.path), c.last) << c.path;
        EXPECT_EQ(PathText::deletingLastPathComponent(c.path), c.parent) << c.path;
    }
}

TEST(PathText, ExtensionSplit) {
    const std::pair<const char*, std::pair<const char*, const char*>> cases[] = {
        {"report.pdf", {"report", "pdf"}}, {"a.tar.gz", {"a.tar", "gz"}}, {".profile", {".profile", ""}},
        {"name.", {"name.", ""}},          {"plain", {"plain", ""}},      {"..", {"..", ""}},
        {".a.b", {".a", "b"}},
    };
    for (const auto& [name, split] : cases) {
        EXPECT_EQ(PathText::deletingPathExtension(name), split.first) << name;
        EXPECT_EQ(PathText::pathExtension(name), split.second) << name;
    }
}

TEST(PathText, JoinAndComponents) {
    EXPECT_EQ(PathText::joined("/", "a"), "/a");
    EXPECT_EQ(PathText::joined("/x/y", "a"), "/x/y/a");
    EXPECT_EQ(PathText::components("//a///b/"), (std::vector<std::string_view>{"a", "b"}));
    EXPECT_TRUE(PathText::components("/").empty());
}

TEST(UnicodeText, CompositionAndLowerCase) {
    EXPECT_EQ(UnicodeText::composed("Cafe\xCC\x81"), "Caf\xC3\xA9");
    EXPECT_EQ(UnicodeText::lowercased("/LIBRARY/Caches"), "/library/caches");
    // U+0130 lower-cases to "i" and U+0307: the text grows.
    EXPECT_EQ(UnicodeText::lowercased("\xC4\xB0"), "i\xCC\x87");
    EXPECT_EQ(UnicodeText::lowercased("\xC3\x89T\xC3\x89"), "\xC3\xA9t\xC3\xA9");
    // Ill-formed bytes become U+FFFD.
    EXPECT_EQ(UnicodeText::repairedUTF8("a\xFF"), "a\xEF\xBF\xBD");
    EXPECT_FALSE(UnicodeText::isValidUTF8("a\xC3"));
    EXPECT_TRUE(UnicodeText::isValidUTF8("\xC3\xA9"));
}

// The UTF-8 fast paths give what ICU's UTF-16 mappings give: for every
// assigned code point, alone and before a combining mark, and for the texts
// that leave the fast paths (a sigma, a letter that grows, bytes that are not
// UTF-8, alone or together).
TEST(UnicodeText, FastPathsAgreeWithICU) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    ASSERT_TRUE(U_SUCCESS(status));
    const auto expectAgreement = [&](const std::string& text) {
        icu::UnicodeString lower = icu::UnicodeString::fromUTF8(text);
        lower.toLower(icu::Locale::getRoot());
        std::string expectedLower;
        lower.toUTF8String(expectedLower);
        std::string expectedComposed;
        nfc->normalize(icu::UnicodeString::fromUTF8(text), status).toUTF8String(expectedComposed);
        EXPECT_EQ(UnicodeText::lowercased(text), expectedLower) << text;
        EXPECT_EQ(UnicodeText::composed(text), expectedComposed) << text;
        if (UnicodeText::isValidUTF8(text)) {
            EXPECT_EQ(UnicodeText::isComposed(text), text == expectedComposed) << text;
        }
        return !HasFailure();
    };
    for (UChar32 c = 0; c <= 0x10FFFF; ++c) {
        const int8_t type = u_charType(c);
        if (type == U_UNASSIGNED || type == U_PRIVATE_USE_CHAR || type == U_SURROGATE) continue;
        char bytes[U8_MAX_LENGTH];
        int32_t length = 0;
        U8_APPEND_UNSAFE(bytes, length, c);
        const std::string character(bytes, static_cast<std::size_t>(length));
        ASSERT_TRUE(expectAgreement(character) && expectAgreement("A" + character + "\xCC\x81/x"));
    }
    for (const char* text : {"/A\xCE\xA3", "\xCE\xA3" "A", "A\xCE\xA3 b", "\xC4\xB0x", "\xC3\x89\xC4\xB0\xFF", "\xC3\x89\xFF\xCE\xA3",
                             "\xC3\x89\xED\xA0\x80", "e\xCC\x81\xC3", "Caf\xC3\xA9\xF4\x90\x80\x80"})
        expectAgreement(text);
}

TEST(UnicodeText, TrimsUnicodeWhitespace) {
    EXPECT_EQ(UnicodeText::trimmedWhitespace(" \t\n x y \r\n"), "x y");
    EXPECT_EQ(UnicodeText::trimmedWhitespace("\xC2\xA0z\xE2\x80\xA8"), "z");
    EXPECT_EQ(UnicodeText::trimmedWhitespace(" \n "), "");
}

}  // namespace
