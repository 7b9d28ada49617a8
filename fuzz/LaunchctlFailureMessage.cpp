// The failure text of a launchctl run, built from whatever the child printed.
// Invariants: it begins with "launchctl VERB failed (STATUS)", any detail
// follows ": ", and it is well-formed UTF-8 whenever the child's texts were
// (the runner repairs them first).

#include "FuzzCheck.h"
#include "shared/LaunchctlResult.h"
#include "shared/UnicodeText.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string verb = UnicodeText::repairedUTF8(input.ConsumeRandomLengthString(16));
    LaunchctlResult result;
    result.status = input.ConsumeIntegral<int32_t>();
    result.output = UnicodeText::repairedUTF8(input.ConsumeRandomLengthString(512));
    result.error = UnicodeText::repairedUTF8(input.ConsumeRemainingBytesAsString());

    const std::string message = launchctlFailureMessage({verb, "system/x"}, result);
    const std::string head = "launchctl " + verb + " failed (" + std::to_string(result.status) + ")";
    fuzzCheck(message.starts_with(head), "the message does not begin with the verb and status");
    fuzzCheck(message.size() == head.size() || message.compare(head.size(), 2, ": ") == 0,
              "a detail does not follow \": \"");
    fuzzCheck(UnicodeText::isValidUTF8(message), "the message is not well-formed UTF-8");
    return 0;
}
