// Ops of the launch-job rules, facts and plan.
#include "shared/LaunchJobFacts.h"
#include "shared/LaunchJobPlan.h"
#include "shared/LaunchJobRules.h"
#include "shared/LaunchctlResult.h"
#include "tools/PolicyOps.h"

#include <limits>

namespace PolicyOps {

namespace {

using nlohmann::json;

json optionalText(const std::optional<std::string>& text) { return text ? json(*text) : json(nullptr); }

const char* folderName(PrivilegedLaunchFolder folder) {
    return folder == PrivilegedLaunchFolder::agents ? "agents" : "daemons";
}

PrivilegedLaunchFolder folderField(const json& request) {
    std::string name = stringField(request, "folder");
    if (name == "agents") return PrivilegedLaunchFolder::agents;
    if (name == "daemons") return PrivilegedLaunchFolder::daemons;
    throw BadInput("field \"folder\" must be \"agents\" or \"daemons\"");
}

uint32_t uidField(const json& request) {
    int64_t uid = integerField(request, "uid");
    if (uid < 0 || uid > std::numeric_limits<uint32_t>::max())
        throw BadInput("field \"uid\" must be a user identifier (0 to 4294967295)");
    return static_cast<uint32_t>(uid);
}

json integrityObject(const ProgramIntegrity& p) {
    return {
        {"isRegularFile", p.isRegularFile},
        {"ownerUID", p.ownerUID},
        {"writableByOthers", p.writableByOthers},
        {"parentOwnerUID", p.parentOwnerUID},
        {"parentWritableByOthers", p.parentWritableByOthers},
        {"underWorldWritableFolder", p.underWorldWritableFolder},
    };
}

json factsObject(const LaunchJobFacts& f) {
    return {
        {"plistPath", f.plistPath},
        {"resolvedPath", optionalText(f.resolvedPath)},
        {"isRegularFile", f.isRegularFile},
        {"ownerUID", f.ownerUID ? json(*f.ownerUID) : json(nullptr)},
        {"writableByOthers", f.writableByOthers},
        {"label", optionalText(f.label)},
        {"program", optionalText(f.program)},
        {"resolvedProgram", optionalText(f.resolvedProgram)},
        {"programIntegrity", f.programIntegrity ? integrityObject(*f.programIntegrity) : json(nullptr)},
    };
}

}  // namespace

void addLaunchOps(Table& table) {
    table["launch-folder"] = [](const json& request) -> json {
        auto folder = SafetyPolicy::privilegedLaunchFolder(stringField(request, "path"));
        if (!folder) return nullptr;
        return folderName(*folder);
    };
    table["launch-domain"] = [](const json& request) {
        return json(PrivilegedLaunchFolder::domain(folderField(request), uidField(request)));
    };
    table["launch-label"] = [](const json& request) {
        return json(SafetyPolicy::launchLabelAllowed(stringField(request, "label")));
    };
    table["launch-program"] = [](const json& request) {
        return json(SafetyPolicy::launchProgramAllowed(optionalStringField(request, "program"),
                                                       optionalStringField(request, "resolved")));
    };
    table["launch-facts"] = [](const json& request) {
        return factsObject(LaunchJobFacts::read(stringField(request, "plist")));
    };
    table["launch-rule"] = [](const json& request) {
        const std::string rule = stringField(request, "rule");
        const std::string label = stringField(request, "label");
        const std::string plist = stringField(request, "plist");
        if (rule == "enable") {
            uint32_t uid = uidField(request);
            return json(SafetyPolicy::privilegedLaunchJobEnableAllowed(label, LaunchJobFacts::read(plist), uid));
        }
        if (rule == "toggle")
            return json(SafetyPolicy::privilegedLaunchJobToggleAllowed(label, LaunchJobFacts::read(plist)));
        if (rule == "unload")
            return json(SafetyPolicy::privilegedLaunchJobUnloadAllowed(label, LaunchJobFacts::read(plist)));
        throw BadInput("field \"rule\" must be \"toggle\", \"enable\" or \"unload\"");
    };
    table["launch-steps"] = [](const json& request) {
        auto steps = LaunchJobPlan::steps(stringField(request, "domain"), stringField(request, "label"),
                                          stringField(request, "plist"), boolField(request, "enabled"));
        return json{{"persist", steps.persist}, {"live", steps.live}};
    };
    table["launchctl-failure"] = [](const json& request) {
        int64_t status = integerField(request, "status");
        if (status < std::numeric_limits<int32_t>::min() || status > std::numeric_limits<int32_t>::max())
            throw BadInput("field \"status\" must be a signed 32-bit integer");
        LaunchctlResult result{static_cast<int32_t>(status), stringField(request, "output"),
                               stringField(request, "error")};
        return json(launchctlFailureMessage(stringArrayField(request, "args"), result));
    };
}

}  // namespace PolicyOps
