#pragma once

#include "shared/LaunchctlResult.h"

#include <string>
#include <string_view>
#include <vector>

namespace Helper {

inline constexpr std::string_view launchctlPath = "/bin/launchctl";

// Runs /bin/launchctl with the complete argument list (verb first) and waits
// for it to end. Only the verbs of LaunchJobPlan::changingVerbs and "print"
// are run; anything else, and an empty list, is refused with status -1 and
// the error "Not allowed", without starting a process. Never throws for a
// failed run: a child that cannot be started is status -1 with the system's
// message as error.
LaunchctlResult runLaunchctl(const std::vector<std::string>& arguments);

// The same runner with another executable in place of /bin/launchctl.
LaunchctlResult runLaunchctlAt(const std::string& executable, const std::vector<std::string>& arguments);

}  // namespace Helper
