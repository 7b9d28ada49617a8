#include "shared/PlistShape.h"

#include <cstdint>
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

bool isContainer(unsigned char marker) {
    const unsigned type = marker >> 4;
    return type == 0xA || type == 0xC || type == 0xD;
}

}  // namespace

bool isShallowBinaryTree(std::string_view text, std::size_t maxDepth) {
    if (text.size() < magic.size() + trailerLength || text.substr(0, magic.size()) != magic) return false;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    const unsigned char* trailer = bytes + size - trailerLength;
    const std::size_t offsetWidth = trailer[6];
    const std::size_t referenceWidth = trailer[7];
    const uint64_t objectCount = bigEndian(trailer + 8, 8);
    const uint64_t topObject = bigEndian(trailer + 16, 8);
    const uint64_t tableStart = bigEndian(trailer + 24, 8);
    const std::size_t tableEnd = size - trailerLength;
    if (offsetWidth < 1 || offsetWidth > 8 || referenceWidth < 1 || referenceWidth > 8) return false;
    if (objectCount == 0 || topObject >= objectCount || tableStart < magic.size() || tableStart >= tableEnd) return false;
    if (objectCount > (tableEnd - tableStart) / offsetWidth) return false;

    std::vector<bool> reached(objectCount, false);
    std::vector<std::pair<uint64_t, std::size_t>> pending{{topObject, 1}};  // object, its depth
    while (!pending.empty()) {
        const auto [object, depth] = pending.back();
        pending.pop_back();
        const uint64_t offset = bigEndian(bytes + tableStart + object * offsetWidth, offsetWidth);
        if (offset < magic.size() || offset >= tableStart) return false;
        const unsigned char marker = bytes[offset];
        if (!isContainer(marker)) continue;
        if (depth > maxDepth || reached[object]) return false;
        reached[object] = true;

        uint64_t count = marker & 0x0F;
        std::size_t position = offset + 1;
        if (count == 0x0F) {
            if (position >= tableStart || (bytes[position] >> 4) != 0x1) return false;
            const std::size_t width = std::size_t{1} << (bytes[position] & 0x0F);
            if (width > 8 || position + 1 + width > tableStart) return false;
            count = bigEndian(bytes + position + 1, width);
            position += 1 + width;
        }
        const std::size_t room = (tableStart - position) / referenceWidth;
        if (count > room || ((marker >> 4) == 0xD && count > room / 2)) return false;
        const uint64_t references = (marker >> 4) == 0xD ? 2 * count : count;
        for (uint64_t i = 0; i < references; ++i) {
            const uint64_t child = bigEndian(bytes + position + i * referenceWidth, referenceWidth);
            if (child >= objectCount) return false;
            pending.emplace_back(child, depth + 1);
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
