// With the helper running from inside the application bundle (the sandbox's
// --bundle), the bundle and every folder above it are the application's own
// files and are never removed.
#include "support/FileTree.h"
#include "support/SandboxUsers.h"

#include <gtest/gtest.h>

using namespace FileTree;
using namespace SandboxUsers;

namespace {

const std::string notAllowed = "Path is not allowed";
const std::string bundledHelper = "/Applications/Sorvane.app/Contents/Library/LaunchServices/com.kelto.Sorvane.Helper";

TEST(ApplicationBundle, TheBundleHoldingTheHelperIsProtectedFromBothRemovals) {
    ASSERT_TRUE(exists(bundledHelper)) << "run in the sandbox with --bundle";
    makeFile("/Applications/Sorvane.app/Contents/Resources/strings.txt", "x");
    makeFile("/Library/PrivilegedHelperTools/com.kelto.Sorvane.Helper", "x");
    makeFile("/Applications/Other.app/Contents/MacOS/Other", "x");
    makeFile("/Applications/Another.app/Contents/MacOS/Another", "x");
    const std::vector<std::string> own = {
        "/Applications/Sorvane.app",
        "/Applications/Sorvane.app/Contents",
        "/Applications/Sorvane.app/Contents/Resources/strings.txt",
        bundledHelper,
        "/Applications/SORVANE.APP",
        "/Library/PrivilegedHelperTools/com.kelto.Sorvane.Helper",
    };
    Outcome expected;
    for (const auto& path : own) expected[path] = notAllowed;

    for (const bool toTrash : {false, true}) {
        SCOPED_TRACE(toTrash ? "to the Trash" : "deleting");
        std::vector<std::string> paths = own;
        paths.push_back(toTrash ? "/Applications/Another.app" : "/Applications/Other.app");
        EXPECT_EQ(removeItems(ann, paths, toTrash), expected);
        EXPECT_EQ(removeChosenItems(ann, own, toTrash), expected);
    }
    EXPECT_FALSE(exists("/Applications/Other.app"));
    EXPECT_FALSE(exists("/Applications/Another.app"));
    EXPECT_TRUE(exists("/Users/ann/.Trash/Another.app"));
    for (const auto& path : own) {
        if (path != "/Applications/SORVANE.APP") {
            EXPECT_TRUE(exists(path)) << path;
        }
    }
    const ToolRun version = ctl(ann, {"version"});
    EXPECT_EQ(version.reply, "1.6") << "the helper is still serving";
}

}  // namespace
