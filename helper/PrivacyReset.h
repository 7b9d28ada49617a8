#pragma once

#include "helper/Replies.h"

#include <string>

// Resets one privacy permission of one application through the system tool.
// Replies exactly once before returning.
void resetPrivacyPermission(const std::string& service, const std::string& bundleID, TextReply reply);
