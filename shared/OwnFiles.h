#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The application's own files, which the helper never removes whatever the
// other rules allow: the application bundle that holds the helper, the
// installed helper and its job plist, the application's items in any Library
// folder, and every folder that contains one of them. Pure functions; every
// comparison uses comparison keys (SafetyPolicy::folded).
namespace OwnFiles {

// The installed helper executable and its launchd job plist.
inline constexpr std::string_view helperToolPath = "/Library/PrivilegedHelperTools/com.kelto.Sorvane.Helper";
inline constexpr std::string_view helperDaemonPlistPath = "/Library/LaunchDaemons/com.kelto.Sorvane.Helper.plist";
// The lower-case application identifier that the application's Library items begin with.
inline constexpr std::string_view supportName = "com.kelto.sorvane";

// The innermost application bundle in an executable path: everything before
// the last ".app/" followed by ".app"; nothing when there is no ".app/".
std::optional<std::string> applicationBundlePath(std::string_view executablePath);

// The own-files list: the application bundle (when there is one), the helper
// executable, the job plist.
std::vector<std::string> protectedPaths(const std::optional<std::string>& applicationBundlePath);

// Whether `path` (as the client sent it) must not be touched: it, or the same
// name in its resolved holding folder `resolvedParent`, matches an own file.
bool isProtected(std::string_view path, std::string_view resolvedParent, const std::vector<std::string>& ownFiles);

// Whether one candidate path is an own file, lies inside one, contains one, or
// is an item of the application inside a Library folder. `ownKeys` are the
// keys of the own-files list.
bool matchesOwnFile(std::string_view candidate, std::span<const std::string> ownKeys);

}  // namespace OwnFiles
