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
#include <vector>

namespace {

constexpr std::string_view home = "/Users/ann";

const std::vector<std::string>& ownFiles() {
    static const std::vector<std::string> files =
        OwnFiles::protectedPaths(std::string("/Applications/Sorvane.app"));
    return files;
}

// Locations a path starts from; the home folder's own text is never varied,
// since home folders are compared with their letter case (for the same reason
// no name below builds the home folder out of "/Users").
const std::vector<std::string_view>& starts() {
    static const std::vector<std::string_view> texts = [] {
        std::vector<std::string_view> out(SafetyPolicy::removalRootTexts.begin(),
                                          SafetyPolicy::removalRootTexts.end());
        out.insert(out.end(), SafetyPolicy::systemRoots.begin(), SafetyPolicy::systemRoots.end());
        out.insert(out.end(), SafetyPolicy::systemRootExceptions.begin(), SafetyPolicy::systemRootExceptions.end());
        for (std::string_view extra : {"/Users/ann/Library", "/Users/bob", "/Users/bob/Library", "/Volumes/Backup",
                                       "/Volumes/Macintosh HD", "/private", "/tmp", "/Library/PrivilegedHelperTools"})
            out.push_back(extra);
        return out;
    }();
    return texts;
}

// Names that follow: protected names, Apple and own names, awkward pieces.
const std::vector<std::string_view>& names() {
    static const std::vector<std::string_view> texts = [] {
        std::vector<std::string_view> out(SafetyPolicy::libraryFolderNames.begin(),
                                          SafetyPolicy::libraryFolderNames.end());
        out.insert(out.end(), SafetyPolicy::userLibraryFolderNames.begin(), SafetyPolicy::userLibraryFolderNames.end());
        out.insert(out.end(), SafetyPolicy::applicationsFolderNames.begin(),
                   SafetyPolicy::applicationsFolderNames.end());
        for (const auto& entry : SafetyPolicy::protectedChildNames)
            out.insert(out.end(), entry.names.begin(), entry.names.end());
        out.insert(out.end(), StorageRemovalPolicy::homeFolders.begin(), StorageRemovalPolicy::homeFolders.end());
        for (std::string_view extra :
             {"com.apple.Safari", "com.apple.", "com.apple", "com.kelto.Sorvane", "com.kelto.Sorvane.Helper",
              "com.kelto.Sorvane.Helper.plist", "Sorvane.app", "Contents", "Other.app", "Library", "Users",
              "Mobile Documents", "com~apple~CloudDocs", ".Trash", ".hidden", "x", "...", ".", "..", "", "Caf\u00e9",
              "Cafe\u0301", "\u212Aeychains", "\u00C5ngstr\u00F6m", "A\u030Angstro\u0308m"})
            out.push_back(extra);
        return out;
    }();
    return texts;
}

// A name written differently but folding to the same key: letters in the
// other case, "K" as the Kelvin sign. Each choice is taken from the input.
std::string variantOf(std::string_view name, FuzzedDataProvider& input) {
    std::string out;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalpha(byte) == 0 || input.remaining_bytes() == 0) {
            out += c;
            continue;
        }
        switch (input.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            out += static_cast<char>(std::toupper(byte));
            break;
        case 1:
            out += static_cast<char>(std::tolower(byte));
            break;
        case 2:
            if (c == 'k' || c == 'K') out += "\u212A";
            else out += c;
            break;
        default:
            out += c;
        }
    }
    return out;
}

struct Decisions {
    bool allowed;
    bool isProtected;
    std::optional<StorageRemovalPolicy::Route> route;
    friend bool operator==(const Decisions&, const Decisions&) = default;
};

Decisions decide(const std::string& path) {
    const std::string holding = PathText::deletingLastPathComponent(path);
    return {SafetyPolicy::privilegedRemovalAllowed(path, holding, home),
            OwnFiles::isProtected(path, holding, ownFiles()),
            StorageRemovalPolicy::route(path, holding, home, ownFiles())};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const bool fromHome = input.ConsumeBool();
    std::string plain(fromHome ? home : input.PickValueInArray<std::string_view>({"/"}));
    std::string varied = plain;
    if (!fromHome) {
        const std::string_view start = starts()[input.ConsumeIntegralInRange<std::size_t>(0, starts().size() - 1)];
        plain = start;
        varied = start.starts_with(home) ? std::string(start) : variantOf(start, input);
    }
    const int count = input.ConsumeIntegralInRange<int>(0, 4);
    for (int i = 0; i < count; ++i) {
        const std::string_view name = names()[input.ConsumeIntegralInRange<std::size_t>(0, names().size() - 1)];
        plain += '/';
        plain += name;
        varied += '/';
        varied += variantOf(name, input);
    }
    if (input.ConsumeBool()) {
        plain += '/';
        varied += '/';
    }

    const Decisions decided = decide(plain);
    if (!SafetyPolicy::isNormalized(plain)) fuzzCheck(!decided.allowed, "a path that is not canonical is allowed");
    fuzzCheck(decide(varied) == decided, "a variant of the path is decided differently");
    fuzzCheck(decide(UnicodeText::composed(plain)) == decided, "the composed path is decided differently");
    return 0;
}
