#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <string>

// The few system calls of the anchored file operations that differ between
// platforms. Each answers like the call it stands for: -1 with errno set on
// failure. Every descriptor returned is close-on-exec and owned by the caller.
namespace AnchoredFiles::SystemCalls {

// Opens the directory at `path`, refusing a symbolic link in any component,
// the last one included (ELOOP).
int openDirectoryNoFollowAny(const char* path) noexcept;

// Renames (fromFolder, from) to (toFolder, to) unless `to` exists (EEXIST).
int renameExclusive(int fromFolder, const char* from, int toFolder, const char* to) noexcept;

// Opens the entry as itself, a symbolic link included, without read access
// and without blocking on special files; the descriptor serves fstat and
// changeOwner only.
int openEntryItself(int folder, const char* name) noexcept;

// Changes the owner of the object opened by openEntryItself (a link itself,
// never its target).
int changeOwner(int entry, uid_t user, gid_t group) noexcept;

// Removes (folder, name) when it is anything but a directory, as unlinkat
// with no flags does; a directory fails and stays untouched. Where the system
// does not refuse directories there, this must fail without calling it.
int unlinkNonDirectory(int folder, const char* name) noexcept;

// Whether nobody but the folder's owner (and the superuser) may add, remove
// or rename entries of the folder described by `status`.
bool onlyOwnerMayChangeEntries(const struct stat& status) noexcept;

// The device, inode, type, mode, link count and owning user of the entry `name` of
// `folder` (a final symbolic link itself), as fstatat with AT_SYMLINK_NOFOLLOW
// gives them, or of `folder` itself when `name` is empty; `mount` receives the
// identity of the mount the object is reached through. A bind mount of the
// same file system shares the device of its surroundings but not their mount.
int statusAndMount(int folder, const char* name, struct stat& status, uint64_t& mount) noexcept;

// Appends to `names` the entry names of the directory `folder` ("." and ".."
// left out), each followed by a NUL, read from its start in directory order;
// the descriptor's read position is left at the end. After a failure `names`
// holds the whole names read before it.
int readEntryNames(int folder, std::string& names);

}  // namespace AnchoredFiles::SystemCalls
