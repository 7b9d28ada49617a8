#include "helper/OwnExecutable.h"
#include "platform/os/LinkTarget.h"

std::optional<std::string> systemExecutablePath() { return linkTarget("/proc/self/exe"); }
