#pragma once

#include "helper/HelperService.h"
#include "helper/Replies.h"

#include <string>

namespace Helper {

// Turns a job of /Library/LaunchAgents or /Library/LaunchDaemons on or off.
// Refusals reply before returning; accepted requests reply later, once, from a
// task on the connection's executor for launch sequences.
void setLaunchJob(std::string label, std::string plistPath, bool enabled, HelperService& service, TextReply reply);

// Boots a job out and deletes its plist or moves it into the client's Trash.
// Replies exactly once before returning.
void unloadLaunchDaemon(std::string label, std::string plistPath, bool toTrash, const HelperService& service,
                        TextReply reply);

}  // namespace Helper
