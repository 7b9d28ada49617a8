#include "shared/PathText.h"
#include "shared/UnicodeText.h"

#include <gtest/gtest.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
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
    EXPECT_EQ(PathText::lastComponent("/a/b/"), "b");
    EXPECT_EQ(PathText::lastComponent("/"), "");
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

// The UTF-8 fast paths give what ICU's UTF-16 mappings give, for every code
// point alone and amid texts that decide the mapping: a final sigma, a letter
// that grows, a combining mark, bytes that are not UTF-8.
TEST(UnicodeText, FastPathsAgreeWithICUForEveryCodePoint) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    ASSERT_TRUE(U_SUCCESS(status));
    const auto oracle = [&](const std::string& text, bool lower) {
        icu::UnicodeString u = icu::UnicodeString::fromUTF8(text);
        if (lower) {
            u.toLower(icu::Locale::getRoot());
        } else {
            u = nfc->normalize(u, status);
        }
        std::string out;
        return u.toUTF8String(out);
    };
    const char* contexts[][2] = {{"", ""}, {"/A\xCE\xA3", "\xCE\xA3 "}, {"\xC4\xB0", "\xFF"}, {"e", "\xCC\x81x"}};
    for (UChar32 c = 0; c <= 0x10FFFF; ++c) {
        if (U_IS_SURROGATE(c)) continue;
        char bytes[U8_MAX_LENGTH];
        int32_t length = 0;
        U8_APPEND_UNSAFE(bytes, length, c);
        for (const auto& context : contexts) {
            const std::string text = context[0] + std::string(bytes, static_cast<std::size_t>(length)) + context[1];
            ASSERT_EQ(UnicodeText::lowercased(text), oracle(text, true)) << "U+" << std::hex << c;
            ASSERT_EQ(UnicodeText::composed(text), oracle(text, false)) << "U+" << std::hex << c;
            if (UnicodeText::isValidUTF8(text)) {
                ASSERT_EQ(UnicodeText::isComposed(text), text == oracle(text, false)) << "U+" << std::hex << c;
            }
        }
    }
}

TEST(UnicodeText, TrimsUnicodeWhitespace) {
    EXPECT_EQ(UnicodeText::trimmedWhitespace(" \t\n x y \r\n"), "x y");
    EXPECT_EQ(UnicodeText::trimmedWhitespace("\xC2\xA0z\xE2\x80\xA8"), "z");
    EXPECT_EQ(UnicodeText::trimmedWhitespace(" \n "), "");
}

}  // namespace
