#include "helper/PrivacyReset.h"

// Placeholder until the privacy reset is built: every request is refused.
void resetPrivacyPermission(const std::string&, const std::string&, TextReply reply) {
    reply(std::string("Permission reset is not allowed"));
}
