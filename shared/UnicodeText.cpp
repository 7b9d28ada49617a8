#include "shared/UnicodeText.h"

#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <stdexcept>

namespace UnicodeText {

namespace {

icu::UnicodeString fromUTF8(std::string_view text) {
    // fromUTF8 replaces ill-formed sequences by U+FFFD.
    return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::string toUTF8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

const icu::Normalizer2& nfc() {
    static const icu::Normalizer2* instance = [] {
        UErrorCode status = U_ZERO_ERROR;
        const icu::Normalizer2* n = icu::Normalizer2::getNFCInstance(status);
        if (U_FAILURE(status) || n == nullptr) throw std::runtime_error("ICU NFC data unavailable");
        return n;
    }();
    return *instance;
}

}  // namespace

bool isASCII(std::string_view text) noexcept {
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

bool isValidUTF8(std::string_view text) noexcept {
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    int32_t length = static_cast<int32_t>(text.size());
    if (static_cast<size_t>(length) != text.size()) return false;
    int32_t i = 0;
    while (i < length) {
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (c < 0) return false;
    }
    return true;
}

std::string repairedUTF8(std::string_view bytes) {
    if (isASCII(bytes)) return std::string(bytes);
    return toUTF8(fromUTF8(bytes));
}

std::string composed(std::string_view text) {
    if (isASCII(text)) return std::string(text);
    icu::UnicodeString u = fromUTF8(text);
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString result = nfc().normalize(u, status);
    if (U_FAILURE(status)) throw std::runtime_error("ICU normalization failed");
    return toUTF8(result);
}

std::string lowercased(std::string_view text) {
    if (isASCII(text)) {
        std::string out(text);
        for (char& c : out)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return out;
    }
    icu::UnicodeString u = fromUTF8(text);
    u.toLower(icu::Locale::getRoot());
    return toUTF8(u);
}

std::string trimmedWhitespace(std::string_view text) {
    icu::UnicodeString u = fromUTF8(text);
    int32_t start = 0;
    int32_t end = u.length();
    while (start < end) {
        UChar32 c = u.char32At(start);
        if (!u_isUWhiteSpace(c)) break;
        start += U16_LENGTH(c);
    }
    while (end > start) {
        UChar32 c = u.char32At(end - 1);
        if (!u_isUWhiteSpace(c)) break;
        end -= U16_LENGTH(c);
    }
    return toUTF8(u.tempSubStringBetween(start, end));
}

}  // namespace UnicodeText
