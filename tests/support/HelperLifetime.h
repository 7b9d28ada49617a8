#pragma once

#include <functional>

// Checks the end of the sandbox's helper after `change` has been made to its
// executable: the next connection is refused, connections admitted before keep
// being served, and the helper exits with status 0 about 0.2 seconds after the
// refusal. This ends the sandbox's helper, so each use needs a sandbox of its own.
void expectHelperEndsAfterChange(const std::function<void()>& change);
