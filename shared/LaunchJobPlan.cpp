#include "shared/LaunchJobPlan.h"

namespace LaunchJobPlan {

std::string target(std::string_view domain, std::string_view label) {
    std::string out(domain);
    out += '/';
    out += label;
    return out;
}

Steps steps(std::string_view domain, std::string_view label, std::string_view plistPath, bool enabled) {
    std::string service = target(domain, label);
    if (enabled) return {{"enable", service}, {"bootstrap", std::string(domain), std::string(plistPath)}};
    return {{"disable", service}, {"bootout", service}};
}

std::optional<std::string> apply(std::string_view domain, std::string_view label, std::string_view plistPath,
                                 bool enabled, const Runner& run) {
    Steps commands = steps(domain, label, plistPath, enabled);

    LaunchctlResult persisted = run(commands.persist);
    if (!persisted.succeeded()) return launchctlFailureMessage(commands.persist, persisted);

    LaunchctlResult changed = run(commands.live);
    if (changed.succeeded()) return std::nullopt;

    LaunchctlResult lookup = run({std::string(lookupVerb), target(domain, label)});
    bool loaded = lookup.succeeded();
    if (loaded == enabled) return std::nullopt;
    return launchctlFailureMessage(commands.live, changed);
}

}  // namespace LaunchJobPlan
