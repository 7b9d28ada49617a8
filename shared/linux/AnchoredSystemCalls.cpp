#include "shared/AnchoredSystemCalls.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

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

int statusAndMount(int folder, const char* name, struct stat& status, uint64_t& mount) noexcept {
    constexpr unsigned needed = STATX_TYPE | STATX_MODE | STATX_NLINK | STATX_UID | STATX_INO | STATX_MNT_ID;
    struct statx extended {};
    const int flags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | (name[0] == '\0' ? AT_EMPTY_PATH : 0);
    if (::statx(folder, name, flags, needed, &extended) != 0) return -1;
    // A system that cannot name the mount cannot prove a tree stays on one.
    if ((extended.stx_mask & needed) != needed) {
        errno = EOPNOTSUPP;
        return -1;
    }
    status = {};  // what the anchored operations read; the rest stays zero
    status.st_dev = makedev(extended.stx_dev_major, extended.stx_dev_minor);
    status.st_ino = extended.stx_ino;
    status.st_mode = extended.stx_mode;
    status.st_nlink = extended.stx_nlink;
    status.st_uid = extended.stx_uid;
    mount = extended.stx_mnt_id;
    return 0;
}

int readEntryNames(int folder, std::string& names) {
    if (::lseek(folder, 0, SEEK_SET) != 0) return -1;
    // Room for a few hundred entries a call; the system never splits one. On
    // the stack: a listing per folder costs no allocation and no clearing.
    alignas(dirent64) std::byte buffer[32 * 1024];
    for (;;) {
        const ssize_t filled = ::getdents64(folder, buffer, sizeof buffer);
        if (filled < 0) return -1;
        if (filled == 0) return 0;
        for (size_t at = 0; at + offsetof(dirent64, d_name) < static_cast<size_t>(filled);) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
            if (entry->d_reclen <= offsetof(dirent64, d_name) || at + entry->d_reclen > static_cast<size_t>(filled))
                break;
            const char* name = entry->d_name;
            const size_t length = ::strnlen(name, entry->d_reclen - offsetof(dirent64, d_name));
            at += entry->d_reclen;
            if (length == 0 || (length == 1 && name[0] == '.') || (length == 2 && name[0] == '.' && name[1] == '.'))
                continue;
            names.append(name, length);
            names.push_back('\0');
        }
    }
}

}  // namespace AnchoredFiles::SystemCalls
