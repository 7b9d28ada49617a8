// The privacy reset policy on arbitrary service names and bundle identifiers.
// Invariants: the tool's arguments exist exactly when validation finds
// nothing, and then they are "reset" and the two texts as received; a pair
// that passes names a listed service and a well-formed identifier.

#include "FuzzCheck.h"
#include "shared/TCCResetPolicy.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    std::string service = input.ConsumeRandomLengthString(64);
    if (input.ConsumeBool()) {
        // A listed service most of the time, so that the identifier rules are reached.
        service = TCCResetPolicy::services[input.ConsumeIntegralInRange<std::size_t>(
            0, TCCResetPolicy::services.size() - 1)];
    }
    const std::string bundleID = input.ConsumeRemainingBytesAsString();

    const auto rejection = TCCResetPolicy::validate(service, bundleID);
    const auto arguments = TCCResetPolicy::arguments(service, bundleID);
    fuzzCheck(arguments.has_value() == !rejection.has_value(), "arguments present although validation refuses");
    if (!arguments) return 0;
    fuzzCheck(*arguments == std::vector<std::string>{"reset", service, bundleID}, "arguments are not reset, service, id");
    fuzzCheck(std::find(TCCResetPolicy::services.begin(), TCCResetPolicy::services.end(), service) !=
                  TCCResetPolicy::services.end(),
              "an unlisted service passes");
    fuzzCheck(TCCResetPolicy::isReverseDNS(bundleID), "an identifier that is not reverse DNS passes");
    fuzzCheck(!TCCResetPolicy::isAppleClient(bundleID), "an Apple identifier passes");
    return 0;
}
