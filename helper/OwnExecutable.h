#pragma once

#include <optional>
#include <string>

namespace Helper {

// Process-wide values about the helper's own executable, computed once (safe
// against concurrent first use) and read-only afterwards.

// The helper's executable: systemExecutablePath, or the first argument when that fails.
const std::string& ownExecutablePath();

// The innermost application bundle that holds the executable, if any.
const std::optional<std::string>& applicationBundlePath();

// The executable of the running process as the system reports it; nothing
// when it cannot tell.
std::optional<std::string> systemExecutablePath();

// Records the first command-line argument, the fallback for ownExecutablePath.
// Called once by the entry point before anything else runs.
void setCommandLineFallback(const char* firstArgument);

}  // namespace Helper
