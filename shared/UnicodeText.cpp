#include "shared/UnicodeText.h"

#include <unicode/bytestream.h>
#include <unicode/normalizer2.h>
#include <unicode/ucasemap.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
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
        std::unique_ptr<UCaseMap, decltype(&ucasemap_close)> map(ucasemap_open("", 0, &status), &ucasemap_close);
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

// How canonical composition treats a code point, seen on its own.
enum class Composition : uint8_t {
    // Combining class 0 and NFC quick check "yes": kept as it is, and nothing
    // before it combines with it. A text made only of such code points is
    // composed.
    starter,
    // A nonzero combining class or quick check "maybe": may combine with what
    // is before it.
    mark,
    // A starter that composition replaces (quick check "no"): the Kelvin sign
    // by "K", a composition exclusion by its pieces.
    replaced,
    // A mark that composition replaces.
    replacedMark,
};

Composition compositionByICU(UChar32 c) {
    if (nfc().isInert(c)) return Composition::starter;
    const bool starter = u_getCombiningClass(c) == 0;
    switch (u_getIntPropertyValue(c, UCHAR_NFC_QUICK_CHECK)) {
    case UNORM_YES:
        return starter ? Composition::starter : Composition::mark;
    case UNORM_MAYBE:
        return Composition::mark;
    default:
        return starter ? Composition::replaced : Composition::replacedMark;
    }
}

// What the code points that UTF-8 writes in two bytes (Latin, Greek, Cyrillic
// and more) need, looked up rather than asked of ICU each time.
constexpr UChar32 twoByteEnd = 0x800;

struct TwoByteCodePoint {
    char16_t lower = 0;  // the simple lower-case mapping
    Composition composition = Composition::starter;
    // Whether the code point, its mapping and its full mapping are one
    // composed starter each: folding takes it on its own.
    bool foldsAlone = false;
};

using TwoByteTable = std::array<TwoByteCodePoint, twoByteEnd>;

const TwoByteTable& twoByteCodePoints() {
    static const TwoByteTable table = [] {
        TwoByteTable out;
        for (UChar32 c = 0; c < twoByteEnd; ++c) {
            const UChar32 lower = u_tolower(c);
            TwoByteCodePoint& entry = out[static_cast<std::size_t>(c)];
            entry.lower = static_cast<char16_t>(lower);
            entry.composition = compositionByICU(c);
            entry.foldsAlone = lower <= 0xFFFF && c != 0x130 && c != 0x3A3 &&
                               entry.composition == Composition::starter &&
                               compositionByICU(lower) == Composition::starter;
        }
        return out;
    }();
    return table;
}

Composition compositionOf(UChar32 c, const TwoByteTable& table) {
    return c < twoByteEnd ? table[static_cast<std::size_t>(c)].composition : compositionByICU(c);
}

// Whether every code point of well-formed UTF-8 is a composed starter.
bool isMadeOfComposedStarters(std::string_view text) {
    const TwoByteTable& table = twoByteCodePoints();
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    const std::size_t size = text.size();
    for (std::size_t i = 0; i < size;) {
        if (s[i] < 0x80) {
            ++i;
            continue;
        }
        UChar32 c;
        U8_NEXT_UNSAFE(s, i, c);
        if (compositionOf(c, table) != Composition::starter) return false;
    }
    return true;
}

// The one composed starter that composition puts for a replaced starter
// ("K" for the Kelvin sign); -1 when it puts more than one code point.
UChar32 singleReplacement(UChar32 c) {
    icu::UnicodeString pieces;
    if (!nfc().getDecomposition(c, pieces) || pieces.countChar32() != 1) return -1;
    const UChar32 replacement = pieces.char32At(0);
    return compositionByICU(replacement) == Composition::starter ? replacement : -1;
}

// Every code point that the one-pass functions below write takes at most one
// byte more than what it stands for in the text, and only a code point of two
// bytes or more does: room for half as much again is room enough. The texts
// they take are short enough for that room to be counted in int32_t, as ICU's
// UTF-8 macros count.
constexpr std::size_t longestOnePassText = INT32_MAX / 2;
std::size_t roomFor(std::size_t size) { return size + size / 2 + U8_MAX_LENGTH; }

// The canonical composition of a well-formed text into `out`, for the texts
// that need no reordering: composed starters, replaced starters that become
// one composed starter, and an ASCII character with one mark after it ("e"
// and an acute accent). False for any other text and for ill-formed UTF-8,
// `out` then holding anything.
template <class String>
bool composedWithoutReordering(std::string_view text, String& out) {
    if (text.size() > longestOnePassText) return false;
    const TwoByteTable& table = twoByteCodePoints();
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    out.resize(roomFor(text.size()));
    int32_t at = 0;  // the end of what is written to out
    bool afterASCII = false;
    for (int32_t i = 0; i < length;) {
        if (s[i] < 0x80) {
            out[at++] = static_cast<char>(s[i++]);
            afterASCII = true;
            continue;
        }
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (c < 0) return false;
        switch (compositionOf(c, table)) {
        case Composition::starter:
            break;
        case Composition::mark: {
            // Only right after an ASCII character: it has no pieces for
            // the mark to be ordered among, so the two compose or stay as
            // they are. A second mark finds no ASCII character before it.
            if (!afterASCII) return false;
            const UChar32 composite = nfc().composePair(static_cast<unsigned char>(out[at - 1]), c);
            if (composite >= 0) {
                --at;
                c = composite;
            }
            break;
        }
        case Composition::replaced:
            c = singleReplacement(c);
            if (c < 0) return false;
            break;
        case Composition::replacedMark:
            return false;
        }
        U8_APPEND_UNSAFE(out.data(), at, c);
        afterASCII = false;
    }
    out.resize(static_cast<std::size_t>(at));
    return true;
}

}  // namespace

bool isASCII(std::string_view text) noexcept { return asciiPrefix(text) == text.size(); }

// Well-formed sequences as the Unicode Standard's table of them has it: no
// overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUTF8(std::string_view text) noexcept {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    for (std::size_t i = asciiPrefix(text); i < size;) {
        const unsigned char lead = s[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (size - i < length || s[i + 1] < low || s[i + 1] > high) return false;
        for (std::size_t k = 2; k < length; ++k)
            if ((s[i + k] & 0xC0) != 0x80) return false;
        i += length;
    }
    return true;
}

bool isComposed(std::string_view text) {
    if (!isValidUTF8(text)) return false;
    if (isBelowCombiningMarks(text) || isMadeOfComposedStarters(text)) return true;
    UErrorCode status = U_ZERO_ERROR;
    const bool composed =
        nfc().isNormalizedUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())), status);
    return U_SUCCESS(status) && composed;
}

std::string repairedUTF8(std::string_view bytes) {
    if (isASCII(bytes)) return std::string(bytes);
    return toUTF8(fromUTF8(bytes));
}

namespace {

// composed(text) into `out`. An ill-formed text is repaired before ICU sees
// it, so that ICU works on well-formed UTF-8 only and the replacement is the
// same everywhere.
template <class String>
void composeInto(std::string_view text, String& out) {
    if (isBelowCombiningMarks(text) && isValidUTF8(text)) {
        out.assign(text);
        return;
    }
    if (composedWithoutReordering(text, out)) return;
    if (!isValidUTF8(text)) {
        const std::string repaired = repairedUTF8(text);
        return composeInto(repaired, out);
    }
    out.clear();
    icu::StringByteSink<String> sink(&out);
    UErrorCode status = U_ZERO_ERROR;
    nfc().normalizeUTF8(0, icu::StringPiece(text.data(), static_cast<int32_t>(text.size())), sink, nullptr, status);
    if (U_FAILURE(status)) throw std::runtime_error("ICU normalization failed");
}

}  // namespace

std::string composed(std::string_view text) {
    std::string out;
    composeInto(text, out);
    return out;
}

void composed(std::string_view text, std::pmr::string& out) { composeInto(text, out); }

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

namespace {

// Whether the nearest code point before `start` (after `end`) that is not
// case-ignorable is cased: the context that makes a capital sigma final. The
// text is well-formed UTF-8 of `length` bytes.
bool casedLetterBefore(const uint8_t* s, int32_t start) {
    while (start > 0) {
        UChar32 c;
        U8_PREV_UNSAFE(s, start, c);
        if (!u_hasBinaryProperty(c, UCHAR_CASE_IGNORABLE)) return u_hasBinaryProperty(c, UCHAR_CASED);
    }
    return false;
}

bool casedLetterAfter(const uint8_t* s, int32_t end, int32_t length) {
    while (end < length) {
        UChar32 c;
        U8_NEXT_UNSAFE(s, end, c);
        if (!u_hasBinaryProperty(c, UCHAR_CASE_IGNORABLE)) return u_hasBinaryProperty(c, UCHAR_CASED);
    }
    return false;
}

// The lower-case mapping of a composed starter, when it and its full mapping
// are one composed starter (folding then takes the code point on its own);
// -1 otherwise.
UChar32 lowerAlone(UChar32 c, const TwoByteTable& table) {
    if (c < twoByteEnd) {
        const TwoByteCodePoint& entry = table[static_cast<std::size_t>(c)];
        return entry.foldsAlone ? entry.lower : -1;
    }
    const UChar32 lower = u_tolower(c);
    return lower == c || compositionOf(lower, table) == Composition::starter ? lower : -1;
}

// composedLowercased(text) in one pass into `out`, for a well-formed text whose
// composition needs no reordering (see composedWithoutReordering) and whose
// composed code points each fold alone, or are a capital sigma (whose final
// form depends on the letters around it). False otherwise, `out` then holding
// anything.
template <class String>
bool foldedInOnePass(std::string_view text, String& out) {
    if (text.size() > longestOnePassText) return false;
    const TwoByteTable& table = twoByteCodePoints();
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    out.resize(roomFor(text.size()));
    int32_t at = 0;  // the end of what is written to out
    bool afterASCII = false;
    // A sigma's context is read in the text as it is, which is the composed
    // text only when composition changed nothing.
    bool sigma = false;
    bool composition = false;
    for (int32_t i = 0; i < length;) {
        if (s[i] < 0x80) {
            int32_t end = i + 1;
            while (end < length && s[end] < 0x80) ++end;
            for (char* o = out.data() + at; i < end; ++i, ++o, ++at) {
                const char c = static_cast<char>(s[i]);
                *o = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
            }
            afterASCII = true;
            continue;
        }
        const int32_t start = i;
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (c < 0) return false;
        switch (compositionOf(c, table)) {
        case Composition::starter:
            break;
        case Composition::mark:
            // Only right after an ASCII character (as in composition
            // without reordering): their composite takes the place of the
            // lower-cased character in out.
            if (!afterASCII) return false;
            c = nfc().composePair(s[start - 1], c);
            if (c < 0 || compositionOf(c, table) != Composition::starter) return false;
            --at;
            composition = true;
            break;
        case Composition::replaced:
            c = singleReplacement(c);
            if (c < 0) return false;
            composition = true;
            break;
        case Composition::replacedMark:
            return false;
        }
        afterASCII = false;
        UChar32 lower = -1;
        if (c == 0x3A3) {
            if (!isValidUTF8(text)) return false;
            sigma = true;
            lower = casedLetterBefore(s, start) && !casedLetterAfter(s, i, length) ? 0x3C2 : 0x3C3;
        } else {
            lower = lowerAlone(c, table);
            if (lower < 0) return false;
        }
        U8_APPEND_UNSAFE(out.data(), at, lower);
    }
    if (sigma && composition) return false;
    out.resize(static_cast<std::size_t>(at));
    return true;
}

// composedLowercased by its three steps, for texts that one pass cannot fold.
template <class String>
void foldInSteps(std::string_view text, String& out) {
    // Once composed, a text often folds in one pass: marks that did not
    // follow an ASCII letter, letters with two marks.
    const std::string composedText = composed(text);
    if (foldedInOnePass(composedText, out)) return;
    composeInto(lowercased(composedText), out);
}

}  // namespace

std::string composedLowercased(std::string_view text) {
    std::string key;
    if (!foldedInOnePass(text, key)) foldInSteps(text, key);
    return key;
}

void composedLowercased(std::string_view text, std::pmr::string& out) {
    if (!foldedInOnePass(text, out)) foldInSteps(text, out);
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
