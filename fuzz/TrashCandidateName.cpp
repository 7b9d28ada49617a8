// Candidate names for an item moved into a Trash that already holds its name.
// Invariant: for every plain name and every attempt number, the candidate is a
// plain name (so it stays inside the Trash folder) different from the name.

#include "FuzzCheck.h"
#include "shared/AnchoredFiles.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const int n = input.ConsumeIntegralInRange<int>(2, 9999);
    const std::string name = input.ConsumeRemainingBytesAsString();
    if (!AnchoredFiles::isPlainName(name)) return 0;  // the move refuses such a name before any candidate

    const std::string candidate = AnchoredFiles::trashCandidateName(name, n);
    fuzzCheck(AnchoredFiles::isPlainName(candidate), "a candidate is not a plain name");
    fuzzCheck(candidate != name, "a candidate is the name itself");
    if (n > 2) fuzzCheck(candidate != AnchoredFiles::trashCandidateName(name, n - 1), "two attempts share a candidate");
    return 0;
}
