// The removal decisions on paths built from the policy's own tables: a
// location, then names from the protected-name tables, the application's own
// names and a few awkward pieces, each written in letter-case and Unicode
// variants. Invariants: a variant that folds to the same key gets the same
// decision as the plain path, a decomposed name the same as its composed
// form, and a path that is not canonical is never allowed.

#include "FuzzCheck.h"
#include "shared/OwnFiles.h"
#include "shared/PathText.h"
#include "shared/SafetyPolicy.h"
#include "shared/SafetyPolicyTables.h"
#include "shared/StorageRemovalPolicy.h"
#include "shared/UnicodeText.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace {

// Home folders are compared with their letter case: the home folder's text is
// never varied, and no name below builds it out of "/Users".
constexpr std::string_view home = "/Users/ann";

template <typename... Tables>
std::vector<std::string_view> joined(std::initializer_list<std::string_view> extra, const Tables&... tables) {
    std::vector<std::string_view> out(extra);
    (out.insert(out.end(), tables.begin(), tables.end()), ...);
    return out;
}

const auto starts = joined({"/Users/bob", "/Volumes/Backup", "/tmp", "/Library/PrivilegedHelperTools"},
                           SafetyPolicy::removalRootTexts, SafetyPolicy::systemRoots,
                           SafetyPolicy::systemRootExceptions);
const auto names = joined({"com.apple.Safari", "com.kelto.Sorvane.Helper.plist", "Sorvane.app", "Contents", "Library",
                           "Users", "Mobile Documents", "com~apple~CloudDocs", ".Trash", "...", ".", "..", "",
                           "Caf\u00e9", "Cafe\u0301", "\u212Aeychains", "A\u030Angstro\u0308m"},
                          SafetyPolicy::libraryFolderNames, SafetyPolicy::userLibraryFolderNames,
                          SafetyPolicy::applicationsFolderNames, SafetyPolicy::protectedChildNames[0].names,
                          SafetyPolicy::protectedChildNames[1].names, SafetyPolicy::protectedChildNames[2].names,
                          StorageRemovalPolicy::homeFolders);

const std::vector<std::string> ownFiles = OwnFiles::protectedPaths(std::string("/Applications/Sorvane.app"));

// A text written differently but folding to the same key: each letter as it
// is, in the other case, or "K" as the Kelvin sign, as the input chooses.
std::string variantOf(std::string_view text, FuzzedDataProvider& input) {
    std::string out;
    for (const char c : text) {
        const int choice = std::isalpha(static_cast<unsigned char>(c)) != 0 ? input.ConsumeIntegralInRange(0, 2) : 0;
        if (choice == 1) out += static_cast<char>(c ^ 0x20);
        else if (choice == 2 && (c == 'k' || c == 'K')) out += "\u212A";
        else out += c;
    }
    return out;
}

auto decide(const std::string& path) {
    const std::string holding = PathText::deletingLastPathComponent(path);
    return std::tuple(SafetyPolicy::privilegedRemovalAllowed(path, holding, home),
                      OwnFiles::isProtected(path, holding, ownFiles),
                      StorageRemovalPolicy::route(path, holding, home, ownFiles));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const bool fromHome = input.ConsumeBool();
    std::string plain(fromHome ? home : starts[input.ConsumeIntegralInRange<std::size_t>(0, starts.size() - 1)]);
    std::string varied = fromHome ? plain : variantOf(plain, input);
    for (int count = input.ConsumeIntegralInRange(0, 4); count > 0; --count) {
        const std::string_view name = names[input.ConsumeIntegralInRange<std::size_t>(0, names.size() - 1)];
        plain += "/" + std::string(name);
        varied += "/" + variantOf(name, input);
    }
    if (input.ConsumeBool()) plain += '/', varied += '/';

    const auto decided = decide(plain);
    if (!SafetyPolicy::isNormalized(plain)) fuzzCheck(!std::get<0>(decided), "a path that is not canonical is allowed");
    fuzzCheck(decide(varied) == decided, "a variant of the path is decided differently");
    fuzzCheck(decide(UnicodeText::composed(plain)) == decided, "the composed path is decided differently");
    return 0;
}
