#include "helper/ResolvedParentPath.h"

#include "shared/PathText.h"
#include "shared/RealPath.h"

namespace Helper {

std::optional<std::string> resolvedParentPath(std::string_view path) {
    const std::string folder = PathText::deletingLastPathComponent(path);
    // The empty text does not resolve.
    if (folder.empty()) return std::nullopt;
    return realPath(folder);
}

}  // namespace Helper
