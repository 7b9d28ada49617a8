#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Items that the user picked anywhere on the disk: whether one may be removed
// and along which route. Comparisons here use the default lower-case mapping
// without canonical composition. All functions are pure, apart from the
// external volume test, which resolves a path.
namespace StorageRemovalPolicy {

enum class Route {
    user,        // inside the client's home folder, or on an external volume
    privileged,  // elsewhere on the startup volume
};

// The path without trailing "/" characters, when what remains is "/" or a
// canonical absolute path; nothing otherwise.
std::optional<std::string> normalized(std::string_view path);

// Tables, in lower case.
extern const std::array<std::string_view, 11> systemPrefixes;
extern const std::array<std::string_view, 1> systemPrefixExceptions;
extern const std::array<std::string_view, 17> rootLayout;  // top-level folders of the startup volume
// Top-level folders of a Linux host that no Mac has: never chosen, nor
// anything below them.
extern const std::array<std::string_view, 15> hostFolders;
extern const std::array<std::string_view, 10> homeFolders;  // standard folders of a home folder
extern const std::array<std::string_view, 3> cloudDriveRoot;

// The route for the item at `path` (as the client sent it) whose holding
// folder resolves to `resolvedParent`, for a client with the home folder
// `home` and the own-files list `ownFiles`; nothing when it must not be removed.
std::optional<Route> route(std::string_view path, std::string_view resolvedParent, std::string_view home,
                           const std::vector<std::string>& ownFiles);

// Whether one candidate (already normalized) may be removed, given the home
// folder and the normalized own-files list.
bool allowsChosenItem(std::string_view candidate, std::string_view home,
                      const std::vector<std::string>& normalizedOwnFiles);

// Whether the lower-cased path begins with the lower-cased folder followed by
// "/" (by "/" alone when the folder is "/").
bool isInside(std::string_view path, std::string_view folder);

// Whether the path lies below /Volumes/NAME on a volume other than the startup
// volume: /Volumes/NAME does not resolve to "/" (or cannot be resolved).
bool isOnExternalVolume(std::string_view path);

}  // namespace StorageRemovalPolicy
