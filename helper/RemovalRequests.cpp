#include "helper/RemovalRequests.h"

#include "helper/OwnExecutable.h"
#include "helper/ResolvedParentPath.h"
#include "shared/AnchoredFiles.h"
#include "shared/OwnFiles.h"
#include "shared/PathText.h"
#include "shared/SafetyPolicy.h"
#include "shared/StorageRemovalPolicy.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

namespace {

constexpr std::string_view pathNotAllowed = "Path is not allowed";
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

std::string resolvedOrUnchanged(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    return resolved ? std::string(resolved.get()) : path;
}

// Deletes the item, or moves it into the client's Trash; the reason when that failed.
std::optional<std::string> removeItem(const std::string& name, const std::string& holdingFolder, bool toTrash,
                                      const std::optional<std::string>& home, uid_t clientUID) {
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

}  // namespace

std::optional<std::string> clientHomeDirectory(uid_t clientUID) {
    auto entry = userEntry(clientUID);
    if (!entry || !entry->home || !entry->home->starts_with("/Users/")) return std::nullopt;
    return std::move(entry->home);
}

TrashOwner trashOwner(uid_t clientUID, const std::string& homeDirectory) {
    const auto entry = userEntry(clientUID);
    return {clientUID, entry ? entry->group : staffGroup, resolvedOrUnchanged(homeDirectory)};
}

void removeItems(const std::vector<std::string>& paths, bool toTrash, const HelperService& service,
                 DictionaryReply reply) {
    const auto home = clientHomeDirectory(service.clientUID);
    const auto ownFiles = OwnFiles::protectedPaths(applicationBundlePath());
    const auto policyHome = home ? std::optional<std::string_view>(*home) : std::nullopt;
    std::map<std::string, std::string> outcome;
    for (const auto& path : paths) {
        const auto holdingFolder = resolvedParentPath(path);
        if (!holdingFolder || !SafetyPolicy::privilegedRemovalAllowed(path, *holdingFolder, policyHome) ||
            OwnFiles::isProtected(path, *holdingFolder, ownFiles)) {
            outcome[path] = pathNotAllowed;
            continue;
        }
        const std::string name = path.substr(path.rfind('/') + 1);
        if (auto reason = removeItem(name, *holdingFolder, toTrash, home, service.clientUID)) {
            outcome[path] = std::move(*reason);
        }
    }
    reply(std::move(outcome));
}

void removeChosenItems(const std::vector<std::string>& paths, bool toTrash, const HelperService& service,
                       DictionaryReply reply) {
    const auto home = clientHomeDirectory(service.clientUID);
    const auto ownFiles = OwnFiles::protectedPaths(applicationBundlePath());
    std::map<std::string, std::string> outcome;
    for (const auto& path : paths) {
        const auto holdingFolder = resolvedParentPath(path);
        if (!holdingFolder || !home || !StorageRemovalPolicy::route(path, *holdingFolder, *home, ownFiles) ||
            OwnFiles::isProtected(path, *holdingFolder, ownFiles)) {
            outcome[path] = pathNotAllowed;
            continue;
        }
        const std::string name = PathText::lastPathComponent(path);
        if (auto reason = removeItem(name, *holdingFolder, toTrash, home, service.clientUID)) {
            outcome[path] = std::move(*reason);
        }
    }
    reply(std::move(outcome));
}
