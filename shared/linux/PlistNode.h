#pragma once

#include <plist/plist.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

// Sole owner of one libplist tree: frees it (and everything below it) once.
struct PlistFree {
    void operator()(void* node) const noexcept { plist_free(static_cast<plist_t>(node)); }
};
using PlistNode = std::unique_ptr<void, PlistFree>;

// The bytes of a string node, exactly as stored; nothing for a node that is
// absent or not a string. The view lives as long as the node.
inline std::optional<std::string_view> plistText(plist_t node) {
    if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
    uint64_t length = 0;
    const char* bytes = plist_get_string_ptr(node, &length);
    if (bytes == nullptr) return std::nullopt;
    return std::string_view(bytes, length);
}
