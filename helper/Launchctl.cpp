#include "helper/Launchctl.h"

#include "platform/os/ChildProcess.h"
#include "shared/LaunchJobPlan.h"
#include "shared/UnicodeText.h"

#include <algorithm>

namespace Helper {

namespace {

bool verbAllowed(const std::string& verb) {
    if (verb == LaunchJobPlan::lookupVerb) return true;
    return std::ranges::find(LaunchJobPlan::changingVerbs, verb) != LaunchJobPlan::changingVerbs.end();
}

}  // namespace

LaunchctlResult runLaunchctlAt(const std::string& executable, const std::vector<std::string>& arguments) {
    if (arguments.empty() || !verbAllowed(arguments.front())) return {-1, "", "Not allowed"};

    ChildProcess::Result run = ChildProcess::run(executable, arguments, ChildProcess::Streams::separate);
    if (!run.launched) return {-1, "", run.launchError};
    return {run.status, UnicodeText::repairedUTF8(run.output), UnicodeText::repairedUTF8(run.error)};
}

LaunchctlResult runLaunchctl(const std::vector<std::string>& arguments) {
    return runLaunchctlAt(std::string(launchctlPath), arguments);
}

}  // namespace Helper
