#include "shared/JobPlistFields.h"
#include "shared/PlistShape.h"
#include "shared/linux/PlistNode.h"

#include <unicode/ustring.h>

#include <optional>
#include <string>

namespace {

using Plist = PlistNode;

std::optional<std::string> textValue(plist_t node) {
    if (auto text = plistText(node)) return std::string(*text);
    return std::nullopt;
}

// "Program" when it is a text; otherwise the first element of
// "ProgramArguments" when that is a non-empty list of texts only.
std::optional<std::string> programOf(plist_t dictionary) {
    if (auto program = textValue(plist_dict_get_item(dictionary, "Program"))) return program;
    plist_t arguments = plist_dict_get_item(dictionary, "ProgramArguments");
    if (arguments == nullptr || plist_get_node_type(arguments) != PLIST_ARRAY) return std::nullopt;
    uint32_t count = plist_array_get_size(arguments);
    if (count == 0) return std::nullopt;
    std::optional<std::string> first;
    for (uint32_t i = 0; i < count; ++i) {
        auto element = textValue(plist_array_get_item(arguments, i));
        if (!element) return std::nullopt;
        if (i == 0) first = std::move(element);
    }
    return first;
}

// A text in UTF-16 of the given byte order as UTF-8; nothing when its length
// is odd or it holds a lone surrogate.
std::optional<std::string> utf8FromUTF16(std::string_view bytes, bool bigEndian) {
    if (bytes.size() % 2 != 0) return std::nullopt;
    std::u16string units(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i) {
        const auto high = static_cast<unsigned char>(bytes[2 * i + (bigEndian ? 0 : 1)]);
        const auto low = static_cast<unsigned char>(bytes[2 * i + (bigEndian ? 1 : 0)]);
        units[i] = static_cast<char16_t>((high << 8) | low);
    }
    // Each unit becomes at most three bytes.
    std::string text(units.size() * 3, '\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8(text.data(), static_cast<int32_t>(text.size()), &length, units.data(),
                static_cast<int32_t>(units.size()), &status);
    if (U_FAILURE(status)) return std::nullopt;
    text.resize(static_cast<size_t>(length));
    return text;
}

// A text property list in UTF-8 without a byte-order mark, as libplist reads
// it. The bytes may begin with the UTF-8 mark, or be UTF-16 of either byte
// order, with a mark or recognised by an opening "<?" as XML declares itself.
// Anything else is passed on as it is.
std::optional<std::string> utf8Text(std::string_view bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF")) return std::string(bytes.substr(3));
    if (bytes.starts_with("\xFE\xFF")) return utf8FromUTF16(bytes.substr(2), true);
    if (bytes.starts_with("\xFF\xFE")) return utf8FromUTF16(bytes.substr(2), false);
    if (bytes.starts_with(std::string_view("\0<\0?", 4))) return utf8FromUTF16(bytes, true);
    if (bytes.starts_with(std::string_view("<\0?\0", 4))) return utf8FromUTF16(bytes, false);
    return std::string(bytes);
}

// The one reader of job plists: binary lists within the object budget, and
// text lists in any of the encodings above. Nothing when the bytes are none
// of these or do not parse. The budget is judged on the bytes libplist is
// given, so a binary list behind a byte-order mark is judged too.
Plist readPropertyList(std::string_view bytes) {
    std::optional<std::string> text;
    if (!bytes.starts_with("bplist")) {
        text = utf8Text(bytes);
        if (!text) return nullptr;
        bytes = *text;
    }
    if (bytes.starts_with("bplist") && !PlistShape::isWithinObjectBudget(bytes, LaunchJobFacts::plistObjectBudget))
        return nullptr;
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    return Plist(root);
}

}  // namespace

LaunchJobFacts::PlistFields jobPlistFields(std::string_view bytes) {
    LaunchJobFacts::PlistFields fields;
    Plist dictionary = readPropertyList(bytes);
    if (!dictionary || plist_get_node_type(dictionary.get()) != PLIST_DICT) return fields;
    fields.program = programOf(dictionary.get());
    fields.label = textValue(plist_dict_get_item(dictionary.get(), "Label"));
    return fields;
}
