#pragma once

#include <optional>
#include <string>
#include <string_view>

// The path with every link, "." and ".." resolved (realpath); nothing when it
// does not resolve. A text with a NUL byte names no file: it does not resolve.
std::optional<std::string> realPath(std::string_view path);
