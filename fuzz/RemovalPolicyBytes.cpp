// The removal decisions on arbitrary byte strings: a path, its holding folder
// and a home folder as a hostile client (or a strange file system) could hand
// them over. Invariants: a path that is not canonical is never allowed, and a
// decision does not change when the texts are put in canonical composition.

#include "FuzzCheck.h"
#include "shared/OwnFiles.h"
#include "shared/SafetyPolicy.h"
#include "shared/StorageRemovalPolicy.h"
#include "shared/UnicodeText.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static const std::vector<std::string> own = OwnFiles::protectedPaths(std::string("/Applications/Sorvane.app"));
    FuzzedDataProvider input(data, size);
    const bool hasHome = input.ConsumeBool();
    const std::string home = input.ConsumeRandomLengthString(128);
    const std::string holding = input.ConsumeRandomLengthString(256);
    const std::string path = input.ConsumeRemainingBytesAsString();
    const auto homeIfAny = [&](const std::string& text) {
        return hasHome ? std::optional<std::string_view>(text) : std::nullopt;
    };

    const bool allowed = SafetyPolicy::privilegedRemovalAllowed(path, holding, homeIfAny(home));
    if (!SafetyPolicy::isNormalized(path)) fuzzCheck(!allowed, "a path that is not canonical is allowed");
    const bool isProtected = OwnFiles::isProtected(path, holding, own);
    const auto route = StorageRemovalPolicy::route(path, holding, home, own);
    (void)SafetyPolicy::isSystemLocation(path), (void)SafetyPolicy::userRemovalAllowed(path, home);
    if (!UnicodeText::isValidUTF8(path) || !UnicodeText::isValidUTF8(holding) || !UnicodeText::isValidUTF8(home))
        return 0;

    // The same request in canonical composition. The home folder is compared
    // after composition by the protected-location rules, so it is composed too.
    const std::string composedPath = UnicodeText::composed(path), composedHolding = UnicodeText::composed(holding);
    const std::string composedHome = UnicodeText::composed(home);
    fuzzCheck(SafetyPolicy::privilegedRemovalAllowed(composedPath, composedHolding, homeIfAny(composedHome)) == allowed,
              "privilegedRemovalAllowed differs for the composed path");
    fuzzCheck(OwnFiles::isProtected(composedPath, composedHolding, own) == isProtected,
              "isProtected differs for the composed path");
    // Chosen-item routing compares lower-cased texts without composing them,
    // so only a home folder without composable characters gives the same
    // route for both forms.
    if (UnicodeText::isASCII(home))
        fuzzCheck(StorageRemovalPolicy::route(composedPath, composedHolding, home, own) == route,
                  "route differs for the composed path");
    return 0;
}
