#pragma once

#include <cstdint>
#include <string>

namespace Helper {

// The identity of the helper's executable file when the process started.
struct StartupIdentity {
    uint64_t device = 0;  // st_dev of the file (0 when the stat failed)
    uint64_t inode = 0;   // st_ino of the file (0 when the stat failed)
    bool statFailed = false;
};

// stat (following links) of the path, taken now.
StartupIdentity identityOf(const std::string& executablePath);

// The identity of ownExecutablePath, taken once on first use (start-up).
const StartupIdentity& startupIdentity();

// Whether the file at the path is still the one recorded: false when it is
// gone, or is another file (another device or inode). Contents, times and mode
// are not compared, so a file rewritten in place passes.
bool isSameExecutable(const std::string& executablePath, const StartupIdentity& recorded);

}  // namespace Helper
