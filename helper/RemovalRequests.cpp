#include "helper/RemovalRequests.h"

#include "helper/OwnExecutable.h"
#include "helper/ResolvedParentPath.h"
#include "shared/OwnFiles.h"
#include "shared/SafetyPolicy.h"
#include "shared/StorageRemovalPolicy.h"

namespace Helper {

namespace {

constexpr std::string_view pathNotAllowed = "Path is not allowed";

// Judges each path with `allowed` (given the path, its resolved holding folder
// and the client's home folder), never removes the application's own files,
// and deletes or trashes what passes; replies once with every path that was
// not removed and why.
template <class Judge>
void removeJudged(const std::vector<std::string>& paths, bool toTrash, const HelperService& service,
                  DictionaryReply reply, Judge allowed) {
    const auto home = clientHomeDirectory(service.clientUID);
    const auto ownFiles = OwnFiles::protectedPaths(applicationBundlePath());
    std::map<std::string, std::string> outcome;
    for (const auto& path : paths) {
        const auto holdingFolder = resolvedParentPath(path);
        if (!holdingFolder || !allowed(path, *holdingFolder, home, ownFiles) ||
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

}  // namespace

void removeItems(const std::vector<std::string>& paths, bool toTrash, const HelperService& service,
                 DictionaryReply reply) {
    removeJudged(paths, toTrash, service, std::move(reply),
                 [](const std::string& path, const std::string& holdingFolder, const std::optional<std::string>& home,
                    const auto&) {
                     const auto policyHome = home ? std::optional<std::string_view>(*home) : std::nullopt;
                     return SafetyPolicy::privilegedRemovalAllowed(path, holdingFolder, policyHome);
                 });
}

void removeChosenItems(const std::vector<std::string>& paths, bool toTrash, const HelperService& service,
                       DictionaryReply reply) {
    removeJudged(
        paths, toTrash, service, std::move(reply),
        [](const std::string& path, const std::string& holdingFolder, const std::optional<std::string>& home,
           const auto& ownFiles) { return home && StorageRemovalPolicy::route(path, holdingFolder, *home, ownFiles); });
}

}  // namespace Helper
