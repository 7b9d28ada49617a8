#include "helper/OwnExecutable.h"
#include "platform/os/LinkTarget.h"

namespace Helper {

std::optional<std::string> systemExecutablePath() { return linkTarget("/proc/self/exe"); }

}  // namespace Helper
