#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

// Which items the helper, running as root, may remove on behalf of a client
// user. An allow-list of removal roots with protected names inside them; every
// comparison with a table uses comparison keys on both sides, so letter case
// and Unicode composition never matter. All functions are pure and may run on
// any number of threads; the tables (SafetyPolicyTables.h) are built once, on
// first use.
namespace SafetyPolicy {

// ---- Path texts and comparison keys

// Whether the text is a canonical absolute path: begins with "/", is longer
// than "/", does not end with "/" and has no empty, "." or ".." component.
bool isNormalized(std::string_view path) noexcept;

// The comparison key of a path or a name: canonical composition (NFC), the
// full locale-independent lower-case mapping, composition again. For an
// all-ASCII text this is plain ASCII lower-casing.
std::string folded(std::string_view text);

// Whether `key` lies strictly inside `rootKey`: it begins with the root key
// followed by "/". A location is not inside itself.
bool isInsideKey(std::string_view key, std::string_view rootKey) noexcept;

// ---- Decisions

// Whether the helper may remove the item at `path` (as the client sent it),
// held by `holdingFolder` (its resolved holding folder, or the unresolved one
// for chosen items), for a client whose home folder is `home`. Both the path
// as sent and the path rebuilt on the holding folder must pass.
bool privilegedRemovalAllowed(std::string_view path, std::string_view holdingFolder,
                              std::optional<std::string_view> home);

// Whether the path is, or lies inside, a system root that is not an exception.
bool isSystemLocation(std::string_view path);

// Whether an item may be removed below "/Applications", given its relative
// components (keys): an application bundle not inside another bundle, or a
// plain, visible item directly in the folder other than "Utilities".
bool allowsInApplications(std::span<const std::string_view> components);

// Whether `path` lies inside the home folder `home` (compared after
// composition, case-sensitively) and may be removed: not a standard top-level
// folder, not a protected folder directly in its Library.
bool userRemovalAllowed(std::string_view path, std::string_view home);

}  // namespace SafetyPolicy
