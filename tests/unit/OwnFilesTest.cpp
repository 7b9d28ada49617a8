// The application's own files, through the policy tool's ops, and the
// application bundle of the helper's executable. The holding folders are
// resolved on real folders in the helper's removal tests.
#include "shared/OwnFiles.h"
#include "support/PolicyCases.h"

#include <gtest/gtest.h>

namespace {

using nlohmann::json;

json isOwn(const std::string& path, const std::string& parent, const json& own) {
    return policyAnswer({{"op", "own"}, {"path", path}, {"parent", parent}, {"own", own}});
}

TEST(OwnFiles, ProtectedPaths) {
    const json own = policyAnswer({{"op", "own-paths"}, {"bundle", "/Applications/Caf\u00e9.app"}});
    // clang-format off
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"/LIBRARY/launchdaemons/COM.KELTO.SORVANE.HELPER.PLIST", "/LIBRARY/launchdaemons", true},
        {"/Library/LaunchDaemons", "/Library", true}, {"/", "/", false},
        {"/Applications/Cafe\u0301.app/Contents/Info.plist", "/Applications/Cafe\u0301.app/Contents", true},
        {"/Applications/Caf\u00e9.application", "/Applications", false},
        {"/Library/LaunchDaemons/other.plist", "/Library/LaunchDaemons", false},
        {"/Users/ann/LIBRARY/a/b/COM.KELTO.SORVANE.x", "/Users/ann/LIBRARY/a/b", true},
        {"/Users/ann/Library", "/Users/ann", false},
        {"/Users/ann/Desktop/com.kelto.Sorvane", "/Users/ann/Desktop", false},
        // The same name in the resolved holding folder counts, and so does the path as sent.
        {"/Users/ann/Desktop/com.kelto.Sorvane.Helper.plist", "/Library/LaunchDaemons", true},
        {"/tmp/LaunchDaemons", "/Library", true}, {"/tmp/x", "/Library", false},
    };
    // clang-format on
    for (const auto& [path, parent, expected] : cases) EXPECT_EQ(isOwn(path, parent, own), expected) << path;
    // Without the own list, the helper's own fixed paths and the Library rule remain.
    EXPECT_EQ(policyAnswer({{"op", "own"}, {"path", "/Applications"}, {"parent", "/"}}), false);
    EXPECT_EQ(policyAnswer({{"op", "own"}, {"path", "/Library/LaunchDaemons"}, {"parent", "/Library"}}), true);
}

TEST(OwnFiles, ApplicationBundleOfAnExecutable) {
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"/A.app/Contents/B.app/Contents/MacOS/x", "/A.app/Contents/B.app"}, {"/x/Foo.app", std::nullopt}};
    for (const auto& [executable, bundle] : cases) EXPECT_EQ(OwnFiles::applicationBundlePath(executable), bundle);
}

}  // namespace
