#include "shared/PlistShape.h"

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace PlistShape {

namespace {

constexpr std::string_view magic = "bplist00";
constexpr std::size_t trailerLength = 32;

uint64_t bigEndian(const unsigned char* bytes, std::size_t width) {
    uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) value = (value << 8) | bytes[i];
    return value;
}

// The object table of a binary list, as its trailer describes it.
struct ObjectTable {
    const unsigned char* bytes = nullptr;
    std::size_t tableStart = 0;  // where the offset table begins; objects lie before it
    std::size_t offsetWidth = 0;
    std::size_t referenceWidth = 0;
    uint64_t objectCount = 0;
    uint64_t topObject = 0;

    // The references an array, set or dictionary holds (a dictionary's keys,
    // then its values): `count` of them, `referenceWidth` bytes each, from
    // `first`. A scalar holds none.
    struct References {
        std::size_t first = 0;
        uint64_t count = 0;
    };

    // Nothing when the object's offset or its reference list lies outside the objects.
    std::optional<References> referencesOf(uint64_t object, bool& isContainer) const {
        const uint64_t offset = bigEndian(bytes + tableStart + object * offsetWidth, offsetWidth);
        if (offset < magic.size() || offset >= tableStart) return std::nullopt;
        const unsigned char marker = bytes[offset];
        const unsigned type = marker >> 4;
        isContainer = type == 0xA || type == 0xC || type == 0xD;
        if (!isContainer) return References{};

        uint64_t count = marker & 0x0F;
        std::size_t position = offset + 1;
        if (count == 0x0F) {
            if (position >= tableStart || (bytes[position] >> 4) != 0x1) return std::nullopt;
            const std::size_t width = std::size_t{1} << (bytes[position] & 0x0F);
            if (width > 8 || position + 1 + width > tableStart) return std::nullopt;
            count = bigEndian(bytes + position + 1, width);
            position += 1 + width;
        }
        const std::size_t room = (tableStart - position) / referenceWidth;
        if (count > room || (type == 0xD && count > room / 2)) return std::nullopt;
        return References{position, type == 0xD ? 2 * count : count};
    }

    // The i-th reference of a list; nothing when it names no object.
    std::optional<uint64_t> reference(const References& list, uint64_t i) const {
        const uint64_t child = bigEndian(bytes + list.first + i * referenceWidth, referenceWidth);
        if (child >= objectCount) return std::nullopt;
        return child;
    }
};

std::optional<ObjectTable> objectTableOf(std::string_view text) {
    if (text.size() < magic.size() + trailerLength || text.substr(0, magic.size()) != magic) return std::nullopt;
    ObjectTable table;
    table.bytes = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* trailer = table.bytes + text.size() - trailerLength;
    table.offsetWidth = trailer[6];
    table.referenceWidth = trailer[7];
    table.objectCount = bigEndian(trailer + 8, 8);
    table.topObject = bigEndian(trailer + 16, 8);
    const uint64_t tableStart = bigEndian(trailer + 24, 8);
    const std::size_t tableEnd = text.size() - trailerLength;
    if (table.offsetWidth < 1 || table.offsetWidth > 8 || table.referenceWidth < 1 || table.referenceWidth > 8)
        return std::nullopt;
    if (table.objectCount == 0 || table.topObject >= table.objectCount || tableStart < magic.size() ||
        tableStart >= tableEnd)
        return std::nullopt;
    table.tableStart = static_cast<std::size_t>(tableStart);
    if (table.objectCount > (tableEnd - table.tableStart) / table.offsetWidth) return std::nullopt;
    return table;
}

}  // namespace

bool isShallowBinaryTree(std::string_view text, std::size_t maxDepth) {
    const auto table = objectTableOf(text);
    if (!table) return false;
    std::vector<bool> reached(table->objectCount, false);
    std::vector<std::pair<uint64_t, std::size_t>> pending{{table->topObject, 1}};  // object, its depth
    while (!pending.empty()) {
        const auto [object, depth] = pending.back();
        pending.pop_back();
        bool isContainer = false;
        const auto references = table->referencesOf(object, isContainer);
        if (!references) return false;
        if (!isContainer) continue;
        if (depth > maxDepth || reached[object]) return false;
        reached[object] = true;
        for (uint64_t i = 0; i < references->count; ++i) {
            const auto child = table->reference(*references, i);
            if (!child) return false;
            pending.emplace_back(*child, depth + 1);
        }
    }
    return true;
}

bool isWithinObjectBudget(std::string_view text, std::size_t budget) {
    const auto table = objectTableOf(text);
    if (!table) return false;
    std::size_t counted = 0;
    std::vector<uint64_t> pending{table->topObject};
    while (!pending.empty()) {
        const uint64_t object = pending.back();
        pending.pop_back();
        if (++counted > budget) return false;
        bool isContainer = false;
        const auto references = table->referencesOf(object, isContainer);
        if (!references) return false;
        // Everything still to be walked counts at least once.
        if (references->count > budget - counted - pending.size()) return false;
        for (uint64_t i = 0; i < references->count; ++i) {
            const auto child = table->reference(*references, i);
            if (!child) return false;
            pending.push_back(*child);
        }
    }
    return true;
}

bool isSmallXML(std::string_view text, std::size_t maxContainers) {
    std::size_t containers = 0;
    for (std::size_t at = text.find('<'); at != std::string_view::npos; at = text.find('<', at + 1)) {
        const std::string_view rest = text.substr(at + 1);
        if (rest.starts_with("array") || rest.starts_with("dict")) {
            if (++containers > maxContainers) return false;
        }
    }
    return true;
}

}  // namespace PlistShape
