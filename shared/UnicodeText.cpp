#include "shared/UnicodeText.h"

#include <unicode/bytestream.h>
#include <unicode/normalizer2.h>
#include <unicode/ucasemap.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstring>
#include <memory>
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

// The root locale's case mapping, read-only once opened (safe to share between threads).
const UCaseMap& rootCaseMap() {
    static const std::unique_ptr<UCaseMap, decltype(&ucasemap_close)> instance = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<UCaseMap, decltype(&ucasemap_close)> map(ucasemap_open("", 0, &status),
                                                                 &ucasemap_close);
        if (U_FAILURE(status) || !map) throw std::runtime_error("ICU case mapping unavailable");
        return map;
    }();
    return *instance;
}

constexpr uint64_t highBits = 0x8080808080808080u;

// How many leading bytes are below 0x80, counted eight at a time where it can.
std::size_t asciiPrefix(std::string_view text) noexcept {
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        uint64_t word;
        std::memcpy(&word, text.data() + i, sizeof word);
        if ((word & highBits) != 0) break;
    }
    while (i < text.size() && static_cast<unsigned char>(text[i]) < 0x80) ++i;
    return i;
}

// Well-formed UTF-8 of code points below U+0300 only (every byte below 0xCC)
// is in canonical composition: nothing below U+0300 decomposes or combines
// with what precedes it, and no combining mark follows.
bool isBelowCombiningMarks(std::string_view text) noexcept {
    unsigned char highest = 0;
    for (unsigned char c : text) highest = std::max(highest, c);
    return highest < 0xCC;
}

}  // namespace

bool isASCII(std::string_view text) noexcept { return asciiPrefix(text) == text.size(); }

bool isValidUTF8(std::string_view text) noexcept {
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    int32_t length = static_cast<int32_t>(text.size());
    if (static_cast<size_t>(length) != text.size()) return false;
    int32_t i = 0;
    while (i < length) {
        if (s[i] < 0x80) {
            i += static_cast<int32_t>(asciiPrefix(text.substr(static_cast<std::size_t>(i))));
            continue;
        }
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (c < 0) return false;
    }
    return true;
}

bool isComposed(std::string_view text) {
    if (!isValidUTF8(text)) return false;
    if (isBelowCombiningMarks(text)) return true;
    UErrorCode status = U_ZERO_ERROR;
    const bool composed =
        nfc().isNormalizedUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())), status);
    return U_SUCCESS(status) && composed;
}

std::string repairedUTF8(std::string_view bytes) {
    if (isASCII(bytes)) return std::string(bytes);
    return toUTF8(fromUTF8(bytes));
}

// Ill-formed texts are repaired first, so that every path below works on
// well-formed UTF-8 and the replacement is the same everywhere.
std::string composed(std::string_view text) {
    if (!isValidUTF8(text)) return composed(repairedUTF8(text));
    if (isBelowCombiningMarks(text)) return std::string(text);
    std::string out;
    out.reserve(text.size());
    icu::StringByteSink<std::string> sink(&out);
    UErrorCode status = U_ZERO_ERROR;
    nfc().normalizeUTF8(0, icu::StringPiece(text.data(), static_cast<int32_t>(text.size())), sink, nullptr, status);
    if (U_FAILURE(status)) throw std::runtime_error("ICU normalization failed");
    return out;
}

namespace {

// The default lower-case mapping of the whole text by ICU, from UTF-8 to
// UTF-8; a text that grows is mapped again into the size ICU asks for.
std::string lowercasedByCaseMap(std::string_view text) {
    std::string out(text.size(), '\0');
    for (;;) {
        UErrorCode status = U_ZERO_ERROR;
        const int32_t length = ucasemap_utf8ToLower(&rootCaseMap(), out.data(), static_cast<int32_t>(out.size()),
                                                    text.data(), static_cast<int32_t>(text.size()), &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            out.resize(static_cast<std::size_t>(length));
            continue;
        }
        if (U_FAILURE(status)) throw std::runtime_error("ICU case mapping failed");
        out.resize(static_cast<std::size_t>(length));
        return out;
    }
}

}  // namespace

std::string lowercased(std::string_view text) {
    std::string out(text);
    const std::size_t ascii = asciiPrefix(text);
    for (std::size_t i = 0; i < ascii; ++i)
        if (out[i] >= 'A' && out[i] <= 'Z') out[i] = static_cast<char>(out[i] - 'A' + 'a');
    if (ascii == text.size()) return out;

    // Without a locale, the full lower-case mapping of a code point is its
    // simple one (u_tolower) except for two: U+0130 grows into two code points,
    // and U+03A3 depends on the letters around it. A text holding either is
    // mapped by ICU as a whole.
    out.resize(ascii);
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    for (auto i = static_cast<int32_t>(ascii); i < length;) {
        if (s[i] < 0x80) {
            const char c = static_cast<char>(s[i++]);
            out += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
            continue;
        }
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (c < 0) return lowercased(repairedUTF8(text));
        if (c == 0x130 || c == 0x3A3)
            return isValidUTF8(text) ? lowercasedByCaseMap(text) : lowercased(repairedUTF8(text));
        const UChar32 lower = u_tolower(c);
        char bytes[U8_MAX_LENGTH];
        int32_t written = 0;
        U8_APPEND_UNSAFE(bytes, written, lower);
        out.append(bytes, static_cast<std::size_t>(written));
    }
    return out;
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
