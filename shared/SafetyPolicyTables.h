#pragma once

#include "shared/SafetyPolicy.h"

#include <array>
#include <cstddef>
#include <functional>
#include <memory_resource>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

// The tables of the removal policy, as written and as comparison keys, and the
// pieces of the rules that the chosen-item routing shares.
namespace SafetyPolicy {

// The pieces of `key` below `rootKey` (which it must lie inside), split at
// "/" with empty pieces dropped; views into `key`. Empty when it is not inside.
std::pmr::vector<std::string_view> relativeComponents(
    std::string_view key, std::string_view rootKey,
    std::pmr::memory_resource* memory = std::pmr::get_default_resource());

// A home folder path as the rules use it: one trailing "/" removed when the
// text is at least two characters long.
std::string_view homeFolderPath(std::string_view home) noexcept;

// ---- Tables, as written

// Locations inside which items may be removed.
extern const std::array<std::string_view, 49> removalRootTexts;
// Folder names protected directly inside "/Library" and a user's Library.
extern const std::array<std::string_view, 73> libraryFolderNames;
// Further folder names protected directly inside a user's Library.
extern const std::array<std::string_view, 57> userLibraryFolderNames;
// Folder names protected directly inside "/Applications".
extern const std::array<std::string_view, 1> applicationsFolderNames;
// Locations refused together with everything inside them ...
extern const std::array<std::string_view, 11> systemRoots;
// ... except these two and everything inside them.
extern const std::array<std::string_view, 2> systemRootExceptions;

// Names refused directly below one location (and everything inside them).
struct ProtectedChildren {
    std::string_view location;
    std::span<const std::string_view> names;
};
// The three entries: "/usr/local" (used for every root below it),
// "/private/var/log" and "/Users/Shared".
extern const std::array<ProtectedChildren, 3> protectedChildNames;

// ---- Tables as keys, built once

// A set of comparison keys that can be searched with a string_view.
struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view key) const noexcept { return std::hash<std::string_view>{}(key); }
};
using KeySet = std::unordered_set<std::string, KeyHash, std::equal_to<>>;

// A table location as its text and its key.
struct Location {
    std::string original;
    std::string folded;
};

// The removal roots, in table order.
const std::vector<Location>& removalRoots();
// Keys of the removal roots below which "com.apple." names are refused: all
// but "/Applications", "/Users" and "/private/var/folders".
const KeySet& appleNameGuardedRoots();
// Keys of the protected child names of a location, looked up by the location's
// text as written in the table; nothing for a location without an entry.
const KeySet* protectedChildKeys(std::string_view location);
const KeySet& libraryFolderKeys();
// The union of libraryFolderNames and userLibraryFolderNames, as keys.
const KeySet& userLibraryFolderKeys();
const KeySet& applicationsFolderKeys();

}  // namespace SafetyPolicy
