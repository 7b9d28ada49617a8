#include "helper/StartupIdentity.h"

#include "helper/OwnExecutable.h"

#include <sys/stat.h>

namespace Helper {

StartupIdentity identityOf(const std::string& executablePath) {
    struct stat status;
    if (::stat(executablePath.c_str(), &status) != 0) return {0, 0, true};
    return {static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino), false};
}

const StartupIdentity& startupIdentity() {
    static const StartupIdentity identity = identityOf(ownExecutablePath());
    return identity;
}

bool isSameExecutable(const std::string& executablePath, const StartupIdentity& recorded) {
    const StartupIdentity now = identityOf(executablePath);
    return !now.statFailed && now.device == recorded.device && now.inode == recorded.inode;
}

}  // namespace Helper
