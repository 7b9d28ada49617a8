#include "helper/RemovalRequests.h"

#include "helper/OwnExecutable.h"
#include "helper/ResolvedParentPath.h"
#include "shared/OwnFiles.h"
#include "shared/SafetyPolicy.h"
#include "shared/StorageRemovalPolicy.h"

namespace Helper {

namespace {

constexpr std::string_view pathNotAllowed = "Path is not allowed";

}  // namespace

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
        if (auto reason = removeOrTrash(path, *holdingFolder, toTrash, home, service.clientUID)) {
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
        if (auto reason = removeOrTrash(path, *holdingFolder, toTrash, home, service.clientUID)) {
            outcome[path] = std::move(*reason);
        }
    }
    reply(std::move(outcome));
}

}  // namespace Helper
