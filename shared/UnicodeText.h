#pragma once

#include <memory_resource>
#include <string>
#include <string_view>

// Unicode operations on UTF-8 texts. Ill-formed UTF-8 is read with every bad
// sequence replaced by U+FFFD. All-ASCII texts take a fast path that allocates
// nothing beyond the result.
namespace UnicodeText {

// Canonical composition (NFC).
std::string composed(std::string_view text);

// composed(text), written into `out`. Composed texts, and the common texts that
// need no reordering, take no memory beyond what `out` holds.
void composed(std::string_view text, std::pmr::string& out);

// The full, locale-independent default lower-case mapping (a text may change
// length: U+0130 becomes "i" followed by U+0307).
std::string lowercased(std::string_view text);

// composed(lowercased(composed(text))): the lower-case mapping of the composed
// text, composed again (lower-casing a composed text can leave it decomposable:
// "W" and a ring above is composed, "w" and a ring above is not).
std::string composedLowercased(std::string_view text);

// composedLowercased(text), written into `out`. The common texts (composed, and
// composed once lower-cased) take no memory beyond what `out` holds.
void composedLowercased(std::string_view text, std::pmr::string& out);

// Whether the bytes are well-formed UTF-8 already in canonical composition
// (NFC): composing such a text changes nothing.
bool isComposed(std::string_view text);

// Whether every byte is below 0x80.
bool isASCII(std::string_view text) noexcept;

// Whether the bytes are well-formed UTF-8.
bool isValidUTF8(std::string_view text) noexcept;

// The text with every ill-formed sequence replaced by U+FFFD.
std::string repairedUTF8(std::string_view bytes);

// Trims Unicode white space and line ends (White_Space property) from both ends.
std::string trimmedWhitespace(std::string_view text);

}  // namespace UnicodeText
