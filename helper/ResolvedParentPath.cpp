#include "helper/ResolvedParentPath.h"

#include "shared/PathText.h"

#include <cstdlib>
#include <memory>

std::optional<std::string> resolvedParentPath(std::string_view path) {
    const std::string folder = PathText::deletingLastPathComponent(path);
    // The empty text does not resolve, and a text with a NUL byte cannot name a file.
    if (folder.empty() || folder.find('\0') != std::string::npos) return std::nullopt;
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(folder.c_str(), nullptr), &std::free);
    if (!resolved) return std::nullopt;
    return std::string(resolved.get());
}
