// With the helper running from inside the application bundle (the sandbox's
// --bundle), the bundle and every folder above it are the application's own
// files and are never removed.
#include "support/FileTree.h"
#include "support/SandboxUsers.h"

#include <gtest/gtest.h>

using namespace FileTree;
using namespace SandboxUsers;

TEST(ApplicationBundle, TheBundleHoldingTheHelperIsProtectedFromBothRemovals) {
    const std::string helper = "/Applications/Sorvane.app/Contents/Library/LaunchServices/com.kelto.Sorvane.Helper";
    ASSERT_TRUE(exists(helper)) << "run in the sandbox with --bundle";
    makeFile("/Applications/Other.app/Contents/MacOS/Other", "x");
    const std::vector<std::string> own = {"/Applications/SORVANE.APP", "/Applications/Sorvane.app/Contents", helper};
    Outcome refused;
    for (const auto& path : own) refused[path] = "Path is not allowed";
    EXPECT_EQ(removeItems(ann, own, false), refused);
    EXPECT_EQ(removeChosenItems(ann, own, true), refused);
    EXPECT_TRUE(exists(helper));
    EXPECT_EQ(removeItems(ann, {"/Applications/Other.app"}, false), Outcome{});
    EXPECT_EQ(ctl(ann, {"version"}).reply, "1.6") << "the helper is still serving";
}
