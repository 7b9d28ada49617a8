#include "helper/ItemRemoval.h"

#include "shared/AnchoredFiles.h"
#include "shared/PathText.h"
#include "shared/RealPath.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace Helper {

namespace {

constexpr std::string_view trashNotFound = "The Trash of this user was not found";
constexpr gid_t staffGroup = 20;

// The fields of one user database entry, copied out at once.
struct UserEntry {
    gid_t group = 0;
    std::optional<std::string> home;
};

std::optional<UserEntry> userEntry(uid_t uid) {
    long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::size_t size = suggested > 0 ? static_cast<std::size_t>(suggested) : 16384;
    for (;;) {
        std::vector<char> buffer(size);
        passwd entry{};
        passwd* found = nullptr;
        const int error = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
        if (error == ERANGE && size < (1u << 20)) {
            size *= 2;
            continue;
        }
        if (error != 0 || found == nullptr) return std::nullopt;
        UserEntry result;
        result.group = entry.pw_gid;
        if (entry.pw_dir != nullptr && entry.pw_dir[0] != '\0') result.home = std::string(entry.pw_dir);
        return result;
    }
}

}  // namespace

std::optional<std::string> clientHomeDirectory(uid_t clientUID) {
    auto entry = userEntry(clientUID);
    if (!entry || !entry->home || !entry->home->starts_with("/Users/")) return std::nullopt;
    return std::move(entry->home);
}

TrashOwner trashOwner(uid_t clientUID, const std::string& homeDirectory) {
    const auto entry = userEntry(clientUID);
    return {clientUID, entry ? entry->group : staffGroup, realPath(homeDirectory).value_or(homeDirectory)};
}

std::optional<std::string> removeOrTrash(std::string_view path, const std::string& holdingFolder, bool toTrash,
                                         const std::optional<std::string>& home, uid_t clientUID) {
    const std::string_view name = PathText::lastPathComponent(path);
    try {
        if (!toTrash) {
            AnchoredFiles::remove(name, holdingFolder);
            return std::nullopt;
        }
        if (!home) return std::string(trashNotFound);
        const TrashOwner owner = trashOwner(clientUID, *home);
        AnchoredFiles::moveToTrash(name, holdingFolder, owner.homeFolder, owner.user, owner.group);
        return std::nullopt;
    } catch (const AnchoredFiles::Failure& failure) {
        return failure.description();
    }
}

}  // namespace Helper
