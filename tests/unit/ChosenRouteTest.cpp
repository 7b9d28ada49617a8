// The route of items the user picked by hand, through the policy tool's ops.
#include "shared/PathText.h"
#include "support/PolicyCases.h"

#include <gtest/gtest.h>

namespace {

using nlohmann::json;

// "user", "privileged" or null for the client ann, with the application in /Applications/Sorvane.app.
json route(const std::string& path, std::string parent = "", const std::string& home = "/Users/ann") {
    if (parent.empty()) parent = PathText::deletingLastPathComponent(path);
    static const json own = policyAnswer({{"op", "own-paths"}, {"bundle", "/Applications/Sorvane.app"}});
    return policyAnswer({{"op", "chosen"}, {"path", path}, {"parent", parent}, {"home", home}, {"own", own}});
}

TEST(ChosenRoute, HomeAndStartupVolume) {
    // clang-format off
    const std::pair<const char*, json> cases[] = {
        {"/Users/ann/Desktop/report.pdf/", "user"}, {"/USERS/ANN/Desktop/report.pdf", "user"},
        {"/Users/ann/.Trash/old.txt", "user"}, {"/Users/ann", nullptr}, {"/Users/ann/.trash", nullptr},
        {"/Users/bob/notes.txt", nullptr}, {"/Users/ann/Library/Containers", nullptr},
        {"/Users/ann/Library/Caches/com.example.app", "user"}, {"/Users/ann/Library/com.apple.foo", nullptr},
        {"/Users/ann/Library/Mobile Documents/com~apple~CloudDocs", nullptr},
        {"/Users/ann/Library/Mobile Documents/com~apple~CloudDocs/x", "user"},
        {"/Users/ann/Library/Caches/a/COM.KELTO.SORVANE", nullptr}, {"/Users/ann/Desktop/com.kelto.sorvane", "user"},
        {"/Users/ann/Applications/Some.app", "user"}, {"/Users/ann/Applications/Some.app/Contents", nullptr},
        {"/Users/ann/Desktop/./x", nullptr}, {"/Applications/Some.app", "privileged"},
        {"/Applications/UTILITIES", nullptr}, {"/Applications/Utilities/x", "privileged"},
        {"/Applications/Sorvane.app", nullptr}, {"/Library/Caches", nullptr}, {"/Library/Caches/com.apple.x", nullptr},
        {"/Library/Caches/com.apple.x/y", "privileged"}, {"/Library/Foo", "privileged"},
        {"/Library/com.kelto.sorvane.x", nullptr}, {"/Library/Foo/com.apple.x", "privileged"},
        {"/Library/LaunchDaemons/com.kelto.Sorvane.Helper.plist", nullptr}, {"/usr/local/bin", nullptr},
        {"/usr/local/bin/foo", "privileged"}, {"/Users/Shared/Projects", "privileged"},
        {"/Users/Shared/SC INFO", nullptr}, {"/.hidden", nullptr}, {"/Data", "privileged"},
        {"/private/var/folders/a/b/c", nullptr}, {"/private/var/folders/a/b/c/d", "privileged"},
        {"relative/x", nullptr}, {"/", nullptr},
        // Each table's names, in other letter case, and a name that only begins like one.
        {"/Users/ann/MUSIC", nullptr}, {"/Users/ann/Musicx", "user"}, {"/TMP", nullptr}, {"/tmpx", "privileged"},
        {"/BOOT/x", nullptr}, {"/bootx/y", "privileged"}, {"/Library/Apple/a/b/c", nullptr}, {"/cores/x", nullptr},
        // Any folder in /Volumes that is not the startup volume is another volume (none is mounted here).
        {"/Volumes/Backup/old", "user"}, {"/Volumes/Backup", nullptr}, {"/Volumes", nullptr},
        {"/Volumes/Backup/.Trashes/501", nullptr}, {"/Volumes/Backup/.Trashes/501/x", "user"},
    };
    // clang-format on
    for (const auto& [path, expected] : cases) EXPECT_EQ(route(path), expected) << path;
}

TEST(ChosenRoute, HomeAndHoldingFolder) {
    // clang-format off
    const std::tuple<const char*, const char*, const char*, json> cases[] = {
        {"/Users/ann/x.txt", "", "/Users/ann/", "user"}, {"/Users/ann/x.txt", "", "/Users//ann", nullptr},
        // Composition is not applied: a decomposed home does not hold a precomposed path.
        {"/Users/Jos\u00e9/x.txt", "", "/Users/Jose\u0301", nullptr},
        {"/USERS/JOS\u00c9/x", "", "/users/jos\u00e9", "user"},
        {"/Users/ann/Desktop/Info.plist", "/Applications/Some.app/Contents", "/Users/ann", nullptr},
        {"/Users/ann/Desktop/x", "Desktop", "/Users/ann", nullptr},
        // The route follows the path as sent.
        {"/Users/ann/Desktop/x", "/private/tmp", "/Users/ann", "user"},
        {"/private/tmp/x", "/Users/ann/Desktop", "/Users/ann", "privileged"},
    };
    // clang-format on
    for (const auto& [path, parent, home, expected] : cases) EXPECT_EQ(route(path, parent, home), expected) << path;
}

}  // namespace
