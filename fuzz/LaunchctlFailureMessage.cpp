// The failure text of a launchctl run, built from whatever the child printed.
// Invariants: it begins with "launchctl VERB failed (STATUS)", is well-
// formed UTF-8 whenever the child's texts were (the runner repairs them first),
// and any detail is the chosen text trimmed.

#include "FuzzCheck.h"
#include "shared/LaunchctlResult.h"
#include "shared/UnicodeText.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    std::vector<std::string> arguments;
    const int count = input.ConsumeIntegralInRange<int>(0, 3);
    for (int i = 0; i < count; ++i) arguments.push_back(input.ConsumeRandomLengthString(16));
    LaunchctlResult result;
    result.status = input.ConsumeIntegral<int32_t>();
    result.output = UnicodeText::repairedUTF8(input.ConsumeRandomLengthString(512));
    result.error = UnicodeText::repairedUTF8(input.ConsumeRemainingBytesAsString());

    const std::string message = launchctlFailureMessage(arguments, result);
    const std::string head = "launchctl " + (arguments.empty() ? std::string() : arguments.front()) + " failed (" +
                             std::to_string(result.status) + ")";
    fuzzCheck(message.starts_with(head), "the message does not begin with the verb and status");
    fuzzCheck(message.size() == head.size() || message.compare(head.size(), 2, ": ") == 0,
              "a detail does not follow \": \"");
    if (UnicodeText::isValidUTF8(arguments.empty() ? std::string() : arguments.front()))
        fuzzCheck(UnicodeText::isValidUTF8(message), "the message is not well-formed UTF-8");
    const std::string detail = result.error.empty() ? result.output : result.error;
    fuzzCheck(message.size() == head.size() || message.substr(head.size() + 2) == UnicodeText::trimmedWhitespace(detail),
              "the detail is not the trimmed error text or output");
    return 0;
}
