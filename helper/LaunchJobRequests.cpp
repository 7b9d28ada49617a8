#include "helper/LaunchJobRequests.h"

// Placeholder until the launch-job operations are built: every request is refused.
void setLaunchJob(std::string, std::string, bool, const HelperService&, TextReply reply) {
    reply(std::string("Launch job is not allowed"));
}

void unloadLaunchDaemon(std::string, std::string, bool, const HelperService&, TextReply reply) {
    reply(std::string("Launch job is not allowed"));
}
