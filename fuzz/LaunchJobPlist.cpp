// A job plist's bytes, XML or binary, as any user could write them into a
// file that a launch-job request names. Reading must end, without a crash, in
// a label and a program or in nothing; a program is only ever taken from a
// text, so when one is found the bytes really were a dictionary naming it.

#include "FuzzCheck.h"
#include "shared/LaunchJobFacts.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size > static_cast<std::size_t>(LaunchJobFacts::plistSizeLimit)) return -1;  // never read
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto fields = LaunchJobFacts::parsePlist(bytes);
    fuzzCheck(LaunchJobFacts::parsePlist(bytes) == fields, "reading the same bytes twice differs");
    return 0;
}
