#include "helper/LaunchJobRequests.h"

#include "helper/ItemRemoval.h"
#include "helper/Launchctl.h"
#include "helper/OwnExecutable.h"
#include "helper/ResolvedParentPath.h"
#include "shared/LaunchJobFacts.h"
#include "shared/LaunchJobPlan.h"
#include "shared/LaunchJobRules.h"
#include "shared/OwnFiles.h"
#include "shared/SafetyPolicy.h"

#include <memory>

namespace Helper {

namespace {

constexpr std::string_view jobNotAllowed = "Launch job is not allowed";
constexpr std::string_view programReplaceable =
    "The job's program could be replaced by another user: not turning it on";

// What an accepted enable or disable request hands to its task on the
// connection's executor; the task owns it until it has replied.
struct LaunchJobChange {
    std::string domain;
    std::string label;
    std::string plistPath;
    bool enabled;
    TextReply reply;
};

// A plist outside the two job folders is refused by the rules in any case,
// with the same reply. Refusing it before the facts are read keeps files that
// any user could have written away from the property-list reader, which
// spends time quadratic in a binary plist's nesting depth.
bool inJobFolder(const std::string& plistPath) { return SafetyPolicy::privilegedLaunchFolder(plistPath).has_value(); }

}  // namespace

void setLaunchJob(std::string label, std::string plistPath, bool enabled, HelperService& service, TextReply reply) {
    if (!inJobFolder(plistPath)) return reply(std::string(jobNotAllowed));
    const LaunchJobFacts facts = LaunchJobFacts::read(plistPath);
    if (!SafetyPolicy::privilegedLaunchJobToggleAllowed(label, facts)) return reply(std::string(jobNotAllowed));
    const auto folder = SafetyPolicy::privilegedLaunchFolder(plistPath);
    if (!folder) return reply(std::string(jobNotAllowed));
    // Only turning a job on depends on who could replace its program.
    if (enabled && !SafetyPolicy::privilegedLaunchJobEnableAllowed(label, facts, service.clientUID))
        return reply(std::string(programReplaceable));

    auto change = std::make_shared<LaunchJobChange>(LaunchJobChange{
        PrivilegedLaunchFolder::domain(*folder, service.clientUID),
        std::move(label),
        std::move(plistPath),
        enabled,
        std::move(reply),
    });
    service.launchSequences.submit([change] {
        auto answer =
            LaunchJobPlan::apply(change->domain, change->label, change->plistPath, change->enabled, runLaunchctl);
        change->reply(std::move(answer));
    });
}

void unloadLaunchDaemon(std::string label, std::string plistPath, bool toTrash, const HelperService& service,
                        TextReply reply) {
    if (!inJobFolder(plistPath)) return reply(std::string(jobNotAllowed));
    const auto home = clientHomeDirectory(service.clientUID);
    const LaunchJobFacts facts = LaunchJobFacts::read(plistPath);
    const auto holdingFolder = resolvedParentPath(plistPath);
    if (!holdingFolder) return reply(std::string(jobNotAllowed));
    if (!SafetyPolicy::privilegedLaunchJobUnloadAllowed(label, facts)) return reply(std::string(jobNotAllowed));
    const auto policyHome = home ? std::optional<std::string_view>(*home) : std::nullopt;
    if (!SafetyPolicy::privilegedRemovalAllowed(plistPath, *holdingFolder, policyHome))
        return reply(std::string(jobNotAllowed));
    if (OwnFiles::isProtected(plistPath, *holdingFolder, OwnFiles::protectedPaths(applicationBundlePath())))
        return reply(std::string(jobNotAllowed));
    const auto folder = SafetyPolicy::privilegedLaunchFolder(plistPath);
    if (!folder) return reply(std::string(jobNotAllowed));

    // Whether the job was loaded, and whether bootout worked, does not matter:
    // the plist goes either way.
    runLaunchctl({"bootout", LaunchJobPlan::target(PrivilegedLaunchFolder::domain(*folder, service.clientUID), label)});

    reply(removeOrTrash(plistPath, *holdingFolder, toTrash, home, service.clientUID));
}

}  // namespace Helper
