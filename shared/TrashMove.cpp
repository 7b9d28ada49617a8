#include "shared/AnchoredFiles.h"
#include "shared/AnchoredSystemCalls.h"
#include "shared/EntryNames.h"
#include "shared/PathText.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <system_error>
#include <thread>

namespace AnchoredFiles {

namespace {

constexpr int lastCandidate = 9999;
constexpr mode_t trashMode = 0700;

// One folder being handed over: its descriptor, whether anyone but this
// process could change its entries meanwhile, and the listing still to go.
struct HandOver {
    UniqueFd folder;
    bool sealed = false;
    std::string entries;  // see EntryNames.h
    size_t next = 0;
};

// Opens and lists a folder already judged by its identity. Whether it is
// sealed is judged on the folder actually opened.
std::optional<HandOver> openForHandOver(const char* name, int folder, FileIdentity identity, uid_t self) {
    try {
        struct stat status;
        UniqueFd child = openChildDirectory(name, folder, identity, status);
        const bool sealed = status.st_uid == self && SystemCalls::onlyOwnerMayChangeEntries(status);
        HandOver item{std::move(child), sealed, {}, 0};
        // An unreadable listing counts as an empty one, a broken one as what
        // was read before the break.
        (void)SystemCalls::readEntryNames(item.folder.get(), item.entries);
        return item;
    } catch (const Failure&) {
        return std::nullopt;
    }
}

// Hands a non-folder to the user, or opens and lists a folder. Anything that
// is not exactly as expected is left alone: an entry on another file system
// or mount, a file with further hard links (it is reachable from elsewhere
// and keeps its owner), an entry that is not the object inspected.
//
// The entry is opened as itself (a link stays a link, a device or a FIFO is
// not opened for reading) and judged on that descriptor, so the object
// re-owned is exactly the object judged. In a sealed folder, whose entries
// nobody but this process can change, the name cannot come to mean another
// object, and the entry is judged and re-owned by name, without following a
// link: two calls instead of four for most files of a tree.
std::optional<HandOver> handOrOpen(const char* name, int folder, bool sealed, uid_t user, gid_t group, uid_t self,
                                   MountIdentity where, std::optional<FileIdentity> expected) {
    struct stat status;
    uint64_t mount = 0;
    if (sealed) {
        if (SystemCalls::statusAndMount(folder, name, status, mount) != 0 ||
            (MountIdentity{status.st_dev, mount}) != where)
            return std::nullopt;
        if (!S_ISDIR(status.st_mode)) {
            if (status.st_nlink == 1) (void)::fchownat(folder, name, user, group, AT_SYMLINK_NOFOLLOW);
            return std::nullopt;
        }
    } else {
        UniqueFd entry(SystemCalls::openEntryItself(folder, name));
        if (!entry || SystemCalls::statusAndMount(entry.get(), "", status, mount) != 0 ||
            (MountIdentity{status.st_dev, mount}) != where)
            return std::nullopt;
        if (!S_ISDIR(status.st_mode)) {
            if (status.st_nlink == 1 && (!expected || *expected == FileIdentity{status.st_dev, status.st_ino}))
                (void)SystemCalls::changeOwner(entry.get(), user, group);
            return std::nullopt;
        }
    }
    const FileIdentity identity{status.st_dev, status.st_ino};
    if (expected && *expected != identity) return std::nullopt;
    return openForHandOver(name, folder, identity, self);
}

// Hands over the entries of `root` (opened and listed) from the `first` on,
// every `stride`-th, each folder after its contents. Best effort: running out
// of memory ends it like any other failure.
void handOverEntries(const HandOver& root, size_t first, size_t stride, uid_t user, gid_t group, uid_t self,
                     MountIdentity where) noexcept try {
    std::vector<HandOver> levels;
    for (size_t at = 0, index = 0; at < root.entries.size(); ++index) {
        const char* name = takeEntryName(root.entries, at);
        if (index % stride != first) continue;
        std::optional<HandOver> item = handOrOpen(name, root.folder.get(), root.sealed, user, group, self, where, {});
        if (item) levels.push_back(std::move(*item));
        while (!levels.empty()) {
            HandOver& top = levels.back();
            if (top.next < top.entries.size()) {
                std::optional<HandOver> sub = handOrOpen(takeEntryName(top.entries, top.next), top.folder.get(),
                                                         top.sealed, user, group, self, where, std::nullopt);
                if (sub) levels.push_back(std::move(*sub));  // `top` is not used past this point
                continue;
            }
            (void)::fchown(top.folder.get(), user, group);
            levels.pop_back();
        }
    }
} catch (...) {
}

// giveToUser, and when `expected` is set, only if the entry is that object.
// A folder is re-owned after its contents: while its entries are handed
// over it still belongs to whoever owned it, so the user cannot slip
// anything into it meanwhile.
//
// A folder's entries are shared out between this thread and one more, each
// with a subtree of its own: the calls a file takes (its status, then the
// change of owner) are the whole cost of a large tree, and they run side by
// side. The second thread is joined before the folder itself is re-owned;
// without one, this thread takes every entry.
void handOver(std::string_view name, int folder, uid_t user, gid_t group, MountIdentity where,
              std::optional<FileIdentity> expected) noexcept try {
    const uid_t self = ::geteuid();
    const std::string entry(systemName(name));
    const std::optional<HandOver> item = handOrOpen(entry.c_str(), folder, false, user, group, self, where, expected);
    if (!item) return;
    std::thread other;
    if (item->entries.find('\0') + 1 < item->entries.size()) {  // a second entry follows the first
        try {
            other = std::thread(handOverEntries, std::cref(*item), 1, 2, user, group, self, where);
        } catch (const std::system_error&) {
            // No thread to spare: this one takes every entry.
        }
    }
    handOverEntries(*item, 0, other.joinable() ? 2 : 1, user, group, self, where);
    if (other.joinable()) other.join();
    (void)::fchown(item->folder.get(), user, group);
} catch (...) {
}

}  // namespace

std::string moveToTrash(std::string_view name, std::string_view holdingFolder, std::string_view homeFolder, uid_t user,
                        gid_t group) {
    if (!isPlainName(name)) throw Failure{"move", EINVAL};
    const std::string item(name);

    UniqueFd holding = openDirectory(holdingFolder);
    UniqueFd trash = openTrash(homeFolder, user, group);

    struct stat status;
    if (::fstatat(holding.get(), item.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        throw entryFailure("stat", item, errno);
    const FileIdentity inspected{status.st_dev, status.st_ino};

    // An entry already in the Trash is never replaced: the next name is tried.
    std::string candidate = item;
    for (int n = 2;; ++n) {
        if (SystemCalls::renameExclusive(holding.get(), item.c_str(), trash.get(), candidate.c_str()) == 0) break;
        if (errno != EEXIST || n > lastCandidate) throw entryFailure("move", item, errno);
        candidate = trashCandidateName(item, n);
    }

    // The hand-over goes only to the object inspected above: if the item was
    // replaced just before the rename, the newcomer is moved but not given.
    struct stat trashStatus;
    uint64_t trashMount = 0;
    if (SystemCalls::statusAndMount(trash.get(), "", trashStatus, trashMount) == 0)
        handOver(candidate, trash.get(), user, group, MountIdentity{trashStatus.st_dev, trashMount}, inspected);
    return candidate;
}

UniqueFd openTrash(std::string_view homeFolder, uid_t user, gid_t group) {
    const std::string name(trashName);
    UniqueFd home = openDirectory(homeFolder);

    const bool created = ::mkdirat(home.get(), name.c_str(), trashMode) == 0;
    if (!created && errno != EEXIST) throw Failure{"create " + name, errno};

    UniqueFd trash(::openat(home.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!trash) throw Failure{"open " + name, errno == ELOOP ? ENOTDIR : errno};

    struct stat status;
    if (::fstat(trash.get(), &status) != 0 || !S_ISDIR(status.st_mode)) throw Failure{"open " + name, ENOTDIR};

    // A Trash made just now by this process is given to the user, provided it
    // is still the empty folder it was made as.
    if (created && status.st_uid != user && status.st_uid == ::geteuid()) {
        try {
            if (listEntryNames(trash.get()).empty()) {
                (void)::fchown(trash.get(), user, group);
                (void)::fchmod(trash.get(), trashMode);
                (void)::fstat(trash.get(), &status);
            }
        } catch (const Failure&) {
            // The folder stays as it is, and is judged below.
        }
    }

    // An existing Trash is never taken over: it must already be the user's.
    if (status.st_uid != user) throw Failure{".Trash is not the user's folder", EPERM};
    return trash;
}

// The number goes between the base and the extension as PathText splits
// them: "report.pdf" gives "report 2.pdf", "a.tar.gz" gives "a.tar 2.gz".
// A name whose only "." is its first character (".profile") or that ends with
// "." ("name.") has no extension, so the number simply follows it:
// ".profile 2", "name. 2". The base is never empty (an extension needs a "."
// after the first character), and the blank keeps every candidate different
// from the name and from "." and "..".
std::string trashCandidateName(std::string_view name, int n) {
    const std::string extension = PathText::pathExtension(name);
    std::string candidate = PathText::deletingPathExtension(name);
    candidate += ' ';
    candidate += std::to_string(n);
    if (!extension.empty()) {
        candidate += '.';
        candidate += extension;
    }
    return candidate;
}

void giveToUser(std::string_view name, int folder, uid_t user, gid_t group, MountIdentity where) noexcept {
    handOver(name, folder, user, group, where, std::nullopt);
}

}  // namespace AnchoredFiles
