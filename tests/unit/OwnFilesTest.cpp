#include "helper/ResolvedParentPath.h"
#include "shared/HelperConstants.h"
#include "shared/OwnFiles.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

using namespace Helper;

namespace {

TEST(OwnFiles, ApplicationBundleOfAnExecutable) {
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"/Applications/Sorvane.app/Contents/Library/LaunchServices/com.kelto.Sorvane.Helper",
         "/Applications/Sorvane.app"},
        {"/A.app/Contents/B.app/Contents/MacOS/x", "/A.app/Contents/B.app"},
        {"/x/.app/y", "/x/.app"},
        {"/Library/PrivilegedHelperTools/com.kelto.Sorvane.Helper", std::nullopt},
        {"/x/Foo.APP/y", std::nullopt},
        {"/x/Foo.app", std::nullopt},
    };
    for (const auto& [executable, bundle] : cases) EXPECT_EQ(OwnFiles::applicationBundlePath(executable), bundle);
}

TEST(OwnFiles, ListAndConstants) {
    EXPECT_EQ(OwnFiles::helperToolPath, "/Library/PrivilegedHelperTools/" + std::string(HelperConstants::machServiceName));
    EXPECT_EQ(OwnFiles::helperDaemonPlistPath, "/Library/LaunchDaemons/" + std::string(HelperConstants::daemonPlistName));
    EXPECT_EQ(OwnFiles::protectedPaths(std::nullopt),
              (std::vector<std::string>{std::string(OwnFiles::helperToolPath), std::string(OwnFiles::helperDaemonPlistPath)}));
    EXPECT_EQ(OwnFiles::protectedPaths("/Applications/Sorvane.app").front(), "/Applications/Sorvane.app");
    EXPECT_EQ(OwnFiles::protectedPaths("/Applications/Sorvane.app").size(), 3u);
}

struct Case {
    const char* path;
    const char* parent;
    bool expected;
};

TEST(OwnFiles, ProtectedPaths) {
    const std::vector<std::string> own = OwnFiles::protectedPaths("/Applications/Caf\xC3\xA9.app");
    const Case cases[] = {
        {"/Library/LaunchDaemons/com.kelto.Sorvane.Helper.plist", "/Library/LaunchDaemons", true},
        {"/LIBRARY/launchdaemons/COM.KELTO.SORVANE.HELPER.PLIST", "/LIBRARY/launchdaemons", true},
        {"/Library/PrivilegedHelperTools/com.kelto.Sorvane.Helper", "/Library/PrivilegedHelperTools", true},
        {"/Library/LaunchDaemons", "/Library", true},
        {"/Library/PrivilegedHelperTools", "/Library", true},
        {"/Library", "/", true},
        {"/", "/", false},
        {"/Applications", "/", true},
        {"/Applications/Caf\xC3\xA9.app", "/Applications", true},
        {"/Applications/Cafe\xCC\x81.app/Contents/Info.plist", "/Applications/Cafe\xCC\x81.app/Contents", true},
        {"/Applications/Caf\xC3\xA9.application", "/Applications", false},
        {"/Applications/Other.app", "/Applications", false},
        {"/Library/LaunchDaemons/other.plist", "/Library/LaunchDaemons", false},
        {"/Library/LaunchDaemons/com.kelto.Sorvane.Helper.plist.bak", "/Library/LaunchDaemons", true},
        {"/Users/ann/Library/Application Support/com.kelto.Sorvane", "/Users/ann/Library/Application Support", true},
        {"/Users/ann/Library/Caches/com.kelto.Sorvane.Helper", "/Users/ann/Library/Caches", true},
        {"/Users/ann/LIBRARY/a/b/COM.KELTO.SORVANE.x", "/Users/ann/LIBRARY/a/b", true},
        {"/Users/ann/Library/Preferences/com.kelto.Sorvane.plist", "/Users/ann/Library/Preferences", true},
        {"/Users/ann/Library", "/Users/ann", false},
        {"/Users/ann/Desktop/com.kelto.Sorvane", "/Users/ann/Desktop", false},
        {"/Users/ann/Libraryx/com.kelto.Sorvane", "/Users/ann/Libraryx", false},
        // The same name in the resolved holding folder counts, and so does the path as sent.
        {"/Users/ann/Desktop/com.kelto.Sorvane.Helper.plist", "/Library/LaunchDaemons", true},
        {"/tmp/LaunchDaemons", "/Library", true},
        {"/Library/LaunchDaemons/com.kelto.Sorvane.Helper.plist", "/tmp", true},
        {"/tmp/x", "/Library", false},
    };
    for (const Case& c : cases) EXPECT_EQ(OwnFiles::isProtected(c.path, c.parent, own), c.expected) << c.path;
    // With the bundle written decomposed, the precomposed path matches too.
    const std::vector<std::string> decomposed = OwnFiles::protectedPaths("/Applications/Cafe\xCC\x81.app");
    EXPECT_TRUE(OwnFiles::isProtected("/Applications/Caf\xC3\xA9.app/x", "/Applications/Caf\xC3\xA9.app", decomposed));
    // Without a bundle, only the fixed paths and the Library rule remain.
    EXPECT_FALSE(OwnFiles::isProtected("/Applications", "/", OwnFiles::protectedPaths(std::nullopt)));
}

class OwnFilesOnDisk : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/ownfiles-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = std::filesystem::canonical(pattern);
        std::filesystem::create_directories(root / "real/Sorvane.app/Contents");
        std::filesystem::create_directory_symlink("real", root / "link");
        std::filesystem::create_directory_symlink(root / "real/Sorvane.app", root / "real/Renamed");
    }
    void TearDown() override { std::filesystem::remove_all(root); }
    std::filesystem::path root;
};

TEST_F(OwnFilesOnDisk, ResolvedParentPath) {
    EXPECT_EQ(resolvedParentPath((root / "link/x").string()), (root / "real").string());
    EXPECT_EQ(resolvedParentPath((root / "link/Sorvane.app/").string()), (root / "real").string());
    EXPECT_EQ(resolvedParentPath((root / "link/../link/x").string()), (root / "real").string());
    EXPECT_EQ(resolvedParentPath((root / "link/missing/x").string()), std::nullopt);
    EXPECT_EQ(resolvedParentPath("/x"), "/");
    EXPECT_EQ(resolvedParentPath("/"), "/");
    EXPECT_EQ(resolvedParentPath("x"), std::nullopt);
    EXPECT_EQ(resolvedParentPath(""), std::nullopt);
    EXPECT_EQ(resolvedParentPath(std::string("/tmp\0/x", 7)), std::nullopt);
}

TEST_F(OwnFilesOnDisk, OwnFileReachedThroughALinkedFolder) {
    const std::vector<std::string> own = OwnFiles::protectedPaths((root / "real/Sorvane.app").string());
    const std::string throughLink = (root / "link/Sorvane.app").string();
    EXPECT_TRUE(OwnFiles::isProtected(throughLink, resolvedParentPath(throughLink).value(), own));
    // A link with another name is itself not an own file; only the link would be removed.
    const std::string renamed = (root / "real/Renamed").string();
    EXPECT_FALSE(OwnFiles::isProtected(renamed, resolvedParentPath(renamed).value(), own));
}

}  // namespace
