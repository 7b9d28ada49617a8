#pragma once

#include <optional>
#include <string>

// What the symbolic link at `path` points to (readlink); nothing when it is no
// link, cannot be read, or its target does not fit a path.
std::optional<std::string> linkTarget(const std::string& path);
