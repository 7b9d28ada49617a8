// The text foundations: lower-casing, composition and trimming on UTF-8,
// against ICU's own mappings. Path texts are tested through the decisions that
// use them.
#include "shared/UnicodeText.h"

#include <gtest/gtest.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

namespace {

std::string utf8(const icu::UnicodeString& text) {
    std::string out;
    return text.toUTF8String(out);
}

// The UTF-8 fast paths give what ICU's UTF-16 mappings give: for every
// assigned code point, alone and before a combining mark, and for the texts
// that leave the fast paths (a sigma, a letter that grows, bytes that are not
// UTF-8, alone or together).
TEST(UnicodeText, FastPathsAgreeWithICU) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    ASSERT_TRUE(U_SUCCESS(status));
    const icu::Locale& root = icu::Locale::getRoot();
    const auto expectAgreement = [&](const std::string& text) {
        const icu::UnicodeString original = icu::UnicodeString::fromUTF8(text);
        const std::string composed = utf8(nfc->normalize(original, status));
        EXPECT_EQ(UnicodeText::lowercased(text), utf8(icu::UnicodeString(original).toLower(root))) << text;
        EXPECT_EQ(UnicodeText::composed(text), composed) << text;
        EXPECT_EQ(UnicodeText::composedLowercased(text),
                  utf8(nfc->normalize(nfc->normalize(original, status).toLower(root), status)))
            << text;
        EXPECT_TRUE(!UnicodeText::isValidUTF8(text) || UnicodeText::isComposed(text) == (text == composed)) << text;
        return !HasFailure();
    };
    for (UChar32 c = 0; c <= 0x10FFFF; ++c) {
        const int8_t type = u_charType(c);
        if (type == U_UNASSIGNED || type == U_PRIVATE_USE_CHAR || type == U_SURROGATE) continue;
        const std::string character = utf8(icu::UnicodeString(c));
        ASSERT_TRUE(expectAgreement(character) && expectAgreement("A" + character + "\xCC\x81/x"));
    }
    for (const char* text : {"/A\xCE\xA3",
                             "\xCE\xA3"
                             "A",
                             "A\xCE\xA3 b", "\xC4\xB0x", "\xC3\x89\xC4\xB0\xFF", "\xC3\x89\xFF\xCE\xA3",
                             "\xC3\x89\xED\xA0\x80", "e\xCC\x81\xC3", "W\xCC\x8A", "Caf\xC3\xA9\xF4\x90\x80\x80"})
        expectAgreement(text);
}

TEST(UnicodeText, TrimsUnicodeWhitespace) {
    for (const auto& [in, out] : {std::pair{" \t\n x y \r\n", "x y"}, {"\xC2\xA0z\xE2\x80\xA8", "z"}, {"\n ", ""}})
        EXPECT_EQ(UnicodeText::trimmedWhitespace(in), out) << in;
}

}  // namespace
