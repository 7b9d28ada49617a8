#include "helper/PrivacyReset.h"

#include "platform/os/ChildProcess.h"
#include "shared/TCCResetPolicy.h"
#include "shared/UnicodeText.h"

namespace Helper {

namespace {

constexpr const char* notAllowed = "Permission reset is not allowed";
constexpr const char* blankFailure = "tccutil failed";

}  // namespace

std::optional<std::string> privacyResetReply(int status, std::string_view output) {
    if (status == 0) return std::nullopt;
    std::string text = UnicodeText::trimmedWhitespace(UnicodeText::repairedUTF8(output));
    if (text.empty()) return std::string(blankFailure);
    return text;
}

void resetPrivacyPermission(const std::string& service, const std::string& bundleID, TextReply reply) {
    auto arguments = TCCResetPolicy::arguments(service, bundleID);
    if (!arguments) {
        reply(std::string(notAllowed));
        return;
    }
    auto run = ChildProcess::run(std::string(TCCResetPolicy::toolPath), *arguments, ChildProcess::Streams::merged);
    if (!run.launched) {
        reply(std::move(run.launchError));
        return;
    }
    reply(privacyResetReply(run.status, run.output));
}

}  // namespace Helper
