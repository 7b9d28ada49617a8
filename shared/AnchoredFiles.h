#pragma once

#include "shared/UniqueFd.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// File operations made relative to directory descriptors that were opened
// without following symbolic links, so that what is changed is exactly what
// was inspected. Every operation that can fail throws AnchoredFiles::Failure.
namespace AnchoredFiles {

// The error of every file operation.
struct Failure {
    std::string operation;  // the failed step, e.g. "open /a/b", "remove x", "create .Trash"
    int32_t code = 0;       // errno, or the fixed errno a check chose

    // operation, ": ", and the system's message for code.
    std::string description() const;

    friend bool operator==(const Failure&, const Failure&) = default;
};

// (st_dev, st_ino) of a stat record: two opens reach the same object exactly
// when both are equal.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// Where a tree lies: its file system (st_dev) and the mount it is reached
// through. A tree is entered only as far as both stay the same: a mount point
// inside it, a bind mount of the same file system included, is never crossed.
struct MountIdentity {
    dev_t device = 0;
    uint64_t mount = 0;
    friend bool operator==(const MountIdentity&, const MountIdentity&) = default;
};

inline constexpr std::string_view trashName = ".Trash";

// Opens the directory at an absolute path, refusing a symbolic link in any
// component (the last one included).
UniqueFd openDirectory(std::string_view path);

// The name as the system sees it: its bytes up to the first NUL.
std::string_view systemName(std::string_view name) noexcept;

// Whether the name is one plain path component: not empty, not "." or "..",
// no "/" and no NUL.
bool isPlainName(std::string_view name) noexcept;

// Opens a child directory of `parent` without following a link, and proves it
// is the object identified by `expected` (EAGAIN otherwise).
UniqueFd openChildDirectory(std::string_view name, int parent, FileIdentity expected);

// The same, also giving the status of the folder opened, taken on its
// descriptor.
UniqueFd openChildDirectory(std::string_view name, int parent, FileIdentity expected, struct stat& status);

// Failure whose operation is verb, a blank and the name (bytes up to the first
// NUL, ill-formed UTF-8 replaced by U+FFFD).
Failure entryFailure(std::string_view verb, std::string_view name, int32_t code);

// Deletes the item `name` of the folder at `holdingFolder`: a file, a link, or
// a whole folder tree that never leaves the holding folder's mount.
void remove(std::string_view name, std::string_view holdingFolder);

// Removes one entry of the folder `folder`, recursively, within `where`.
void removeEntry(std::string_view name, int folder, MountIdentity where);

// The entry names of a folder (neither "." nor ".."), in directory order. The
// caller's descriptor stays open.
std::vector<std::string> listEntryNames(int folder);

// Moves the item into the user's ".Trash" under a free name, hands it to the
// user, and returns the name under which it now lies in the Trash.
std::string moveToTrash(std::string_view name, std::string_view holdingFolder, std::string_view homeFolder, uid_t user,
                        gid_t group);

// Opens (creating when missing) the user's Trash folder in the home folder.
UniqueFd openTrash(std::string_view homeFolder, uid_t user, gid_t group);

// The n-th candidate name for an item in the Trash (n from 2 to 9999).
std::string trashCandidateName(std::string_view name, int n);

// Hands the entry (recursively, within `where`) to the user; never fails.
void giveToUser(std::string_view name, int folder, uid_t user, gid_t group, MountIdentity where) noexcept;

}  // namespace AnchoredFiles
