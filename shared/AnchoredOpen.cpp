#include "shared/AnchoredFiles.h"
#include "shared/AnchoredSystemCalls.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

namespace AnchoredFiles {

UniqueFd openDirectory(std::string_view path) {
    if (path.empty() || path.front() != '/') throw Failure{"open", EINVAL};
    if (path.find('\0') != std::string_view::npos) throw Failure{"open", EINVAL};

    const std::string text(path);
    UniqueFd folder(SystemCalls::openDirectoryNoFollowAny(text.c_str()));
    if (!folder) throw Failure{"open " + text, errno};

    struct stat status;
    if (::fstat(folder.get(), &status) != 0 || !S_ISDIR(status.st_mode)) throw Failure{"open " + text, ENOTDIR};
    return folder;
}

std::string_view systemName(std::string_view name) noexcept { return name.substr(0, name.find('\0')); }

bool isPlainName(std::string_view name) noexcept {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

UniqueFd openChildDirectory(std::string_view name, int parent, FileIdentity expected) {
    struct stat status;
    return openChildDirectory(name, parent, expected, status);
}

UniqueFd openChildDirectory(std::string_view name, int parent, FileIdentity expected, struct stat& status) {
    const std::string entry(systemName(name));
    UniqueFd child(::openat(parent, entry.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!child) throw entryFailure("open", entry, errno);

    // The entry may have been replaced since the caller inspected it.
    if (::fstat(child.get(), &status) != 0 || status.st_dev != expected.device || status.st_ino != expected.inode)
        throw entryFailure("open", entry, EAGAIN);
    return child;
}

}  // namespace AnchoredFiles
