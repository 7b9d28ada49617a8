#pragma once

#include "helper/Replies.h"

#include <optional>
#include <string>
#include <string_view>

namespace Helper {

// Resets one privacy permission of one application through the system tool.
// Replies exactly once before returning.
void resetPrivacyPermission(const std::string& service, const std::string& bundleID, TextReply reply);

// The reply for one run of the tool that ended with `status` after writing
// `output` (both streams): nothing on status 0, otherwise the output trimmed
// (or "tccutil failed" when blank).
std::optional<std::string> privacyResetReply(int status, std::string_view output);

}  // namespace Helper
