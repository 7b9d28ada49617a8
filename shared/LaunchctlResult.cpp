#include "shared/LaunchctlResult.h"

#include "shared/UnicodeText.h"

std::string launchctlFailureMessage(const std::vector<std::string>& arguments, const LaunchctlResult& result) {
    // Emptiness is judged before trimming: an error text of blanks alone is
    // still chosen over the output, and then trims to nothing.
    const std::string& detail = result.error.empty() ? result.output : result.error;
    std::string trimmed = UnicodeText::trimmedWhitespace(detail);

    std::string message = "launchctl ";
    if (!arguments.empty()) message += arguments.front();
    message += " failed (";
    message += std::to_string(result.status);
    message += ")";
    if (!trimmed.empty()) {
        message += ": ";
        message += trimmed;
    }
    return message;
}
