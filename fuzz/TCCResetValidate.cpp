// The privacy reset policy on arbitrary service names and bundle identifiers.
// Invariant: the tool's arguments exist exactly when validation finds nothing,
// and then they are "reset" and the two texts as received.

#include "FuzzCheck.h"
#include "shared/TCCResetPolicy.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    std::string service = input.ConsumeRandomLengthString(64);
    // A listed service most of the time, so that the identifier rules are reached.
    if (input.ConsumeBool()) service = input.PickValueInArray(TCCResetPolicy::services);
    const std::string bundleID = input.ConsumeRemainingBytesAsString();

    const auto arguments = TCCResetPolicy::arguments(service, bundleID);
    fuzzCheck(arguments.has_value() == !TCCResetPolicy::validate(service, bundleID), "arguments despite a refusal");
    fuzzCheck(!arguments || *arguments == std::vector<std::string>{"reset", service, bundleID}, "arguments differ");
    return 0;
}
