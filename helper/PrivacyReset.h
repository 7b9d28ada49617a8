#pragma once

#include "helper/Replies.h"
#include "platform/os/ChildProcess.h"

#include <optional>
#include <string>

namespace Helper {

// Resets one privacy permission of one application through the system tool.
// Replies exactly once before returning.
void resetPrivacyPermission(const std::string& service, const std::string& bundleID, TextReply reply);

// The reply for one finished run of the tool: its launch error, nothing on
// status 0, otherwise its merged output trimmed (or "tccutil failed" when blank).
std::optional<std::string> privacyResetReply(const ChildProcess::Result& run);

}  // namespace Helper
