#include "shared/AnchoredSystemCalls.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>

namespace AnchoredFiles::SystemCalls {

int openDirectoryNoFollowAny(const char* path) noexcept {
    open_how how{};
    how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS;
    return static_cast<int>(::syscall(SYS_openat2, AT_FDCWD, path, &how, sizeof how));
}

int renameExclusive(int fromFolder, const char* from, int toFolder, const char* to) noexcept {
    return ::renameat2(fromFolder, from, toFolder, to, RENAME_NOREPLACE);
}

int openEntryItself(int folder, const char* name) noexcept {
    return ::openat(folder, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
}

int changeOwner(int entry, uid_t user, gid_t group) noexcept {
    return ::fchownat(entry, "", user, group, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW);
}

// Linux refuses a directory with EISDIR, whoever asks.
int unlinkNonDirectory(int folder, const char* name) noexcept { return ::unlinkat(folder, name, 0); }

// An access control list that grants anyone else write access shows in the
// group write bit, which then holds the list's mask.
bool onlyOwnerMayChangeEntries(const struct stat& status) noexcept {
    return S_ISDIR(status.st_mode) && (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

int duplicate(int fd) noexcept { return ::fcntl(fd, F_DUPFD_CLOEXEC, 0); }

}  // namespace AnchoredFiles::SystemCalls
