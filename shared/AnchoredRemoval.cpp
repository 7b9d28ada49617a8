#include "shared/AnchoredFiles.h"
#include "shared/AnchoredSystemCalls.h"
#include "shared/EntryNames.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

namespace AnchoredFiles {

namespace {

// One folder being emptied: its open descriptor, its name in the folder above
// and the listing read before its first entry was removed.
struct Level {
    UniqueFd folder;
    std::string name;
    std::string entries;  // see EntryNames.h
    size_t next = 0;
};

// The listing of a folder to be emptied; a read error ends it with what was
// read before, and fails it when nothing was.
std::string entryNamesOf(int folder) {
    std::string names;
    if (SystemCalls::readEntryNames(folder, names) != 0 && names.empty()) throw Failure{"list", errno};
    return names;
}

// Removes the entry when it is not a folder; opens and lists it when it is.
std::optional<Level> removeOrOpen(const char* name, int folder, MountIdentity where) {
    // Most entries of a tree are files. The unlink that the inspection below
    // would lead to for them is tried first: the system refuses it for a
    // folder, so it removes exactly what the inspected path would remove, one
    // call per file instead of two. A folder, or any unlink that fails, takes
    // the inspected path, which reports the failure as it stands then.
    if (SystemCalls::unlinkNonDirectory(folder, name) == 0) return std::nullopt;

    struct stat status;
    uint64_t mount = 0;
    if (SystemCalls::statusAndMount(folder, name, status, mount) != 0) throw entryFailure("stat", name, errno);

    if (!S_ISDIR(status.st_mode)) {
        // Without AT_REMOVEDIR unlinkat never removes a folder and never
        // follows a link: whatever this name holds now, no tree goes with it.
        if (::unlinkat(folder, name, 0) != 0) throw entryFailure("remove", name, errno);
        return std::nullopt;
    }

    // A folder on another file system or mount is a mount point: never entered.
    if ((MountIdentity{status.st_dev, mount}) != where) throw entryFailure("remove", name, EXDEV);

    UniqueFd child = openChildDirectory(name, folder, FileIdentity{status.st_dev, status.st_ino});
    std::string entries = entryNamesOf(child.get());
    return Level{std::move(child), name, std::move(entries)};
}

}  // namespace

void remove(std::string_view name, std::string_view holdingFolder) {
    if (!isPlainName(name)) throw Failure{"remove", EINVAL};

    UniqueFd holding = openDirectory(holdingFolder);
    struct stat status;
    uint64_t mount = 0;
    if (SystemCalls::statusAndMount(holding.get(), "", status, mount) != 0)
        throw Failure{"stat " + std::string(holdingFolder), errno};

    removeEntry(name, holding.get(), MountIdentity{status.st_dev, mount});
}

// Depth-first, one level at a time, with the levels on the heap rather than
// the call stack: however deep a tree is, the only limit is the descriptors
// it holds open (one per level), and a failure at any depth closes them all.
void removeEntry(std::string_view name, int folder, MountIdentity where) {
    const std::string entry(systemName(name));
    std::optional<Level> item = removeOrOpen(entry.c_str(), folder, where);
    if (!item) return;

    std::vector<Level> levels;
    levels.push_back(std::move(*item));
    while (!levels.empty()) {
        Level& top = levels.back();
        if (top.next < top.entries.size()) {
            std::optional<Level> sub = removeOrOpen(takeEntryName(top.entries, top.next), top.folder.get(), where);
            if (sub) levels.push_back(std::move(*sub));  // `top` is not used past this point
            continue;
        }
        // Every listed entry is gone; a folder that gained one meanwhile stays.
        const int outer = levels.size() > 1 ? levels[levels.size() - 2].folder.get() : folder;
        if (::unlinkat(outer, top.name.c_str(), AT_REMOVEDIR) != 0) throw entryFailure("remove", top.name, errno);
        levels.pop_back();
    }
}

std::vector<std::string> listEntryNames(int folder) {
    const std::string names = entryNamesOf(folder);
    std::vector<std::string> list;
    for (size_t at = 0; at < names.size();) list.emplace_back(takeEntryName(names, at));
    return list;
}

}  // namespace AnchoredFiles
