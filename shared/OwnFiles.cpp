#include "shared/OwnFiles.h"

#include "shared/PathText.h"
#include "shared/SafetyPolicy.h"

#include <algorithm>

namespace OwnFiles {

std::optional<std::string> applicationBundlePath(std::string_view executablePath) {
    const size_t at = executablePath.rfind(".app/");
    if (at == std::string_view::npos) return std::nullopt;
    return std::string(executablePath.substr(0, at)) + ".app";
}

std::vector<std::string> protectedPaths(const std::optional<std::string>& applicationBundlePath) {
    std::vector<std::string> paths;
    if (applicationBundlePath) paths.push_back(*applicationBundlePath);
    paths.emplace_back(helperToolPath);
    paths.emplace_back(helperDaemonPlistPath);
    return paths;
}

bool isProtected(std::string_view path, std::string_view resolvedParent, const std::vector<std::string>& ownFiles) {
    std::vector<std::string> ownKeys;
    ownKeys.reserve(ownFiles.size());
    for (const std::string& own : ownFiles) ownKeys.push_back(SafetyPolicy::folded(own));
    // The name itself is never resolved.
    const std::string resolved = PathText::joined(resolvedParent, PathText::lastPathComponent(path));
    return matchesOwnFile(path, ownKeys) || matchesOwnFile(resolved, ownKeys);
}

bool matchesOwnFile(std::string_view candidate, std::span<const std::string> ownKeys) {
    const std::string key = SafetyPolicy::folded(candidate);
    for (const std::string& own : ownKeys)
        if (key == own || SafetyPolicy::isInsideKey(key, own) || SafetyPolicy::isInsideKey(own, key)) return true;

    // The application's items in a Library folder, at any depth below it.
    const std::vector<std::string_view> parts = PathText::components(key);
    auto library = std::find(parts.begin(), parts.end(), "library");
    if (library == parts.end()) return false;
    return std::any_of(library + 1, parts.end(), [](std::string_view part) { return part.starts_with(supportName); });
}

}  // namespace OwnFiles
