#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace Helper {

// realpath of the folder that holds the item (the path without its last
// component); nothing when it cannot be resolved. The item name itself is
// never resolved.
std::optional<std::string> resolvedParentPath(std::string_view path);

}  // namespace Helper
