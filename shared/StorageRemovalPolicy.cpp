#include "shared/StorageRemovalPolicy.h"

#include "shared/OwnFiles.h"
#include "shared/PathText.h"
#include "shared/RealPath.h"
#include "shared/SafetyPolicy.h"
#include "shared/SafetyPolicyTables.h"
#include "shared/UnicodeText.h"

#include <algorithm>
#include <span>
#include <unordered_set>

namespace StorageRemovalPolicy {

constinit const std::array<std::string_view, 11> systemPrefixes = {
    "/system",
    "/usr",
    "/bin",
    "/sbin",
    "/private/etc",
    "/private/var/db",
    "/private/var/run",
    "/cores",
    "/dev",
    "/library/apple",
    "/library/application support/apple",
};

constinit const std::array<std::string_view, 1> systemPrefixExceptions = {"/usr/local"};

constinit const std::array<std::string_view, 17> rootLayout = {
    "applications", "library", "system", "users", "volumes", "bin", "cores",   "dev", "etc",
    "home",         "private", "sbin",   "tmp",   "usr",     "var", "network", "net",
};

constinit const std::array<std::string_view, 15> hostFolders = {
    "boot", "lib",  "lib32", "lib64", "libx32", "lost+found", "media", "mnt",
    "opt",  "proc", "root",  "run",   "snap",   "srv",        "sys",
};

constinit const std::array<std::string_view, 10> homeFolders = {
    "desktop", "documents", "downloads", "library", "movies", "music", "pictures", "public", "applications", "sites",
};

constinit const std::array<std::string_view, 3> cloudDriveRoot = {"library", "mobile documents", "com~apple~clouddocs"};

namespace {

using NameSet = std::unordered_set<std::string, SafetyPolicy::KeyHash, std::equal_to<>>;

std::string lower(std::string_view text) { return UnicodeText::lowercased(text); }

template <typename Texts>
void insertLowered(NameSet& set, const Texts& texts) {
    for (std::string_view text : texts) set.insert(lower(text));
}

// The names of other tables, lower-cased once.
struct LoweredTables {
    NameSet libraryFolders;
    NameSet allUserLibraryFolders;
    NameSet sharedProtected;
    NameSet applicationsFolders;
    std::vector<std::string> removalRoots;
};

const LoweredTables& lowered() {
    static const LoweredTables tables = [] {
        LoweredTables out;
        insertLowered(out.libraryFolders, SafetyPolicy::libraryFolderNames);
        insertLowered(out.allUserLibraryFolders, SafetyPolicy::libraryFolderNames);
        insertLowered(out.allUserLibraryFolders, SafetyPolicy::userLibraryFolderNames);
        for (const SafetyPolicy::ProtectedChildren& entry : SafetyPolicy::protectedChildNames)
            if (entry.location == "/Users/Shared") insertLowered(out.sharedProtected, entry.names);
        insertLowered(out.applicationsFolders, SafetyPolicy::applicationsFolderNames);
        for (const SafetyPolicy::Location& root : SafetyPolicy::removalRoots())
            out.removalRoots.push_back(lower(root.original));
        return out;
    }();
    return tables;
}

template <size_t N>
bool contains(const std::array<std::string_view, N>& table, std::string_view name) {
    return std::find(table.begin(), table.end(), name) != table.end();
}

bool equalsOrInside(std::string_view text, std::string_view folder) {
    return text == folder || SafetyPolicy::isInsideKey(text, folder);
}

bool isSystemPrefixed(std::string_view lowered) {
    for (std::string_view prefix : systemPrefixes) {
        if (!equalsOrInside(lowered, prefix)) continue;
        for (std::string_view exception : systemPrefixExceptions)
            if (equalsOrInside(lowered, exception)) return false;
        return true;
    }
    return false;
}

// Rules for a candidate inside the home folder; `rest` are its lower-cased
// components below the home folder.
bool homeAllows(std::span<const std::string> rest) {
    const size_t m = rest.size();
    if (m == 0) return false;
    if (m == 1) return !contains(homeFolders, rest[0]) && rest[0] != ".trash";
    if (rest[0] == "library") {
        for (size_t i = 1; i < m; ++i)
            if (rest[i].starts_with(OwnFiles::supportName)) return false;
        if (m == 2) {
            if (lowered().allUserLibraryFolders.contains(rest[1])) return false;
            return !rest[1].starts_with("com.apple.");
        }
    }
    if (m == 3 && std::equal(rest.begin(), rest.end(), cloudDriveRoot.begin())) return false;
    return true;
}

bool isHiddenOrLayout(std::string_view first) { return contains(rootLayout, first) || first.starts_with('.'); }

// Rules for a candidate on the startup volume outside the home folder; `parts`
// are its lower-cased components.
bool startupVolumeAllows(std::string_view candidate, std::span<const std::string> parts) {
    const size_t n = parts.size();
    const std::string& first = parts[0];
    if (n == 1) return !isHiddenOrLayout(first);

    if (first == "volumes") {
        if (n < 3 || !isOnExternalVolume(candidate)) return false;
        return parts[2] != ".trashes" || n >= 5;
    }
    if (first == "users") {
        if (parts[1] == "shared" && n >= 3) return !lowered().sharedProtected.contains(parts[2]);
        return false;
    }
    if (first == "applications") {
        if (n == 2) return !lowered().applicationsFolders.contains(parts[1]);
        return true;
    }
    if (first == "library") {
        if (lowered().libraryFolders.contains(parts[1])) {
            if (n == 2) return false;
            if (n == 3) return !parts[2].starts_with("com.apple.");
            return true;
        }
        if (n == 2) return !parts[1].starts_with("com.apple.");
        return true;
    }
    if (first == "usr") return n >= 3;
    if (first == "private")
        return SafetyPolicy::privilegedRemovalAllowed(candidate, PathText::deletingLastPathComponent(candidate),
                                                      std::nullopt);
    return !isHiddenOrLayout(first);
}

std::vector<std::string> loweredComponents(std::string_view path) {
    std::vector<std::string> out;
    for (std::string_view piece : PathText::components(path)) out.push_back(lower(piece));
    return out;
}

}  // namespace

std::optional<std::string> normalized(std::string_view path) {
    if (path.empty() || path.front() != '/') return std::nullopt;
    while (path.size() >= 2 && path.back() == '/') path.remove_suffix(1);
    if (path == "/") return std::string("/");
    // What remains begins with "/", is longer than "/" and does not end with
    // "/": it is acceptable exactly when it is canonical.
    if (!SafetyPolicy::isNormalized(path)) return std::nullopt;
    return std::string(path);
}

std::optional<Route> route(std::string_view path, std::string_view resolvedParent, std::string_view home,
                           const std::vector<std::string>& ownFiles) {
    std::optional<std::string> normalizedPath = normalized(path);
    if (!normalizedPath) return std::nullopt;
    std::optional<std::string> normalizedParent = normalized(resolvedParent);
    if (!normalizedParent) return std::nullopt;
    // "/" itself has no name: nothing below it is the item.
    if (*normalizedPath == "/") return std::nullopt;
    std::string_view name = PathText::lastPathComponent(*normalizedPath);
    std::string homeFolder = normalized(home).value_or(std::string(home));
    std::string resolved = PathText::joined(*normalizedParent, name);

    std::vector<std::string> normalizedOwnFiles;
    for (const std::string& own : ownFiles)
        if (std::optional<std::string> entry = normalized(own)) normalizedOwnFiles.push_back(std::move(*entry));

    if (!allowsChosenItem(*normalizedPath, homeFolder, normalizedOwnFiles)) return std::nullopt;
    if (!allowsChosenItem(resolved, homeFolder, normalizedOwnFiles)) return std::nullopt;
    if (isInside(*normalizedPath, homeFolder)) return Route::user;
    if (isOnExternalVolume(*normalizedPath)) return Route::user;
    return Route::privileged;
}

bool allowsChosenItem(std::string_view candidate, std::string_view home,
                      const std::vector<std::string>& normalizedOwnFiles) {
    const std::vector<std::string> parts = loweredComponents(candidate);
    const size_t n = parts.size();
    if (n == 0) return false;
    if (contains(hostFolders, parts[0])) return false;
    const std::string c = lower(candidate);

    if (isSystemPrefixed(c)) return false;

    for (const std::string& own : normalizedOwnFiles) {
        std::string o = lower(own);
        if (equalsOrInside(c, o) || SafetyPolicy::isInsideKey(o, c)) return false;
    }

    if (parts[0] == "library")
        for (size_t i = 1; i < n; ++i)
            if (parts[i].starts_with(OwnFiles::supportName)) return false;

    for (size_t i = 0; i + 1 < n; ++i)
        if (parts[i].ends_with(".app")) return false;

    for (const std::string& root : lowered().removalRoots)
        if (c == root || SafetyPolicy::isInsideKey(root, c)) return false;

    if (c == lower(home)) return false;

    if (isInside(candidate, home)) {
        const size_t k = PathText::components(home).size();
        if (k >= n) return false;
        return homeAllows(std::span<const std::string>(parts).subspan(k));
    }
    return startupVolumeAllows(candidate, parts);
}

bool isInside(std::string_view path, std::string_view folder) {
    const std::string p = lower(path);
    const std::string f = lower(folder);
    if (f == "/") return p.starts_with('/');
    return SafetyPolicy::isInsideKey(p, f);
}

bool isOnExternalVolume(std::string_view path) {
    const std::vector<std::string_view> pieces = PathText::components(path);
    if (pieces.size() < 3) return false;
    if (lower(pieces[0]) != "volumes") return false;
    const std::optional<std::string> resolved = realPath("/Volumes/" + std::string(pieces[1]));
    return !resolved || *resolved != "/";
}

}  // namespace StorageRemovalPolicy
