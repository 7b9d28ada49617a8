// Removal of found items through the running helper, as the application asks
// for it: replies checked key by key, then the file system.
#include "support/FileTree.h"
#include "support/SandboxUsers.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

using namespace FileTree;
using namespace SandboxUsers;

namespace {

const std::string notAllowed = "Path is not allowed";
const std::string noTrash = "The Trash of this user was not found";

std::string failure(const std::string& operation, int code) { return operation + ": " + systemMessage(code); }

class RemovalRequests : public ::testing::Test {
protected:
    void SetUp() override {
        removeAll("/Users/ann/.Trash");
        ::unlink("/Users/ann/.Trash");
    }
};

TEST_F(RemovalRequests, AnEmptyListIsAnsweredWithAnEmptyReply) {
    EXPECT_EQ(removeItems(ann, {}, false), Outcome{});
    EXPECT_EQ(removeItems(ann, {}, true), Outcome{});
}

TEST_F(RemovalRequests, RefusedPathsAreNamedAndLeftUntouched) {
    // Each entry: the path sent, and what must still be there afterwards.
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"/System/Library", "/System/Library"},
        {"/Library/Caches", "/Library/Caches"},
        {"/Library/Caches/com.example.keep/", "/Library/Caches/com.example.keep"},
        {"/Library//Caches/com.example.keep", "/Library/Caches/com.example.keep"},
        {"/Library/Caches/./com.example.keep", "/Library/Caches/com.example.keep"},
        {"/Library/Caches/../Caches/com.example.keep", "/Library/Caches/com.example.keep"},
        {"Library/Caches/com.example.keep", "/Library/Caches/com.example.keep"},
        {"/Library/Caches/com.example.NoSuchFolder/item", "/Library/Caches"},
        {"/Library/Caches/com.apple.keep", "/Library/Caches/com.apple.keep"},
        {"/Library/LaunchDaemons/com.kelto.Sorvane.Helper.plist", "/Library/LaunchDaemons/com.kelto.Sorvane.Helper.plist"},
        {"/Library/PrivilegedHelperTools/com.kelto.Sorvane.Helper", "/Library/PrivilegedHelperTools/com.kelto.Sorvane.Helper"},
        {"/Library/PrivilegedHelperTools", "/Library/PrivilegedHelperTools"},
        {"/Library/Caches/com.kelto.Sorvane", "/Library/Caches/com.kelto.Sorvane"},
        {"/Users/bob/Documents/notes.txt", "/Users/bob/Documents/notes.txt"},
        {"/Users/ann/Desktop", "/Users/ann/Desktop"},
        {"/Users/ann/Library/Caches", "/Users/ann/Library/Caches"},
        {"/usr/local/share/man", "/usr/local/share/man"},
        {"/Volumes/Backup/keep", "/Volumes/Backup/keep"},
        {"/Volumes/Macintosh HD/Library/Caches/com.example.keep", "/Library/Caches/com.example.keep"},
        // A symbolic-link folder that leads from an allowed place into a protected one.
        {"/Library/Caches/com.example.toSystem/keep", "/System/Library/keep"},
        // The helper's own job plist reached through a symbolic-link folder.
        {"/Library/Caches/com.example.toDaemons/com.kelto.Sorvane.Helper.plist",
         "/Library/LaunchDaemons/com.kelto.Sorvane.Helper.plist"},
    };
    for (const char* file : {"/Library/Caches/com.example.keep/data", "/Library/Caches/com.apple.keep",
                             "/Library/LaunchDaemons/com.kelto.Sorvane.Helper.plist",
                             "/Library/Caches/com.kelto.Sorvane/cache.db", "/Users/bob/Documents/notes.txt",
                             "/usr/local/share/man/man1/x.1", "/Volumes/Backup/keep", "/System/Library/keep"}) {
        makeFile(file, "keep");
    }
    makeSymlink("/System/Library", "/Library/Caches/com.example.toSystem");
    makeSymlink("/Library/LaunchDaemons", "/Library/Caches/com.example.toDaemons");

    std::vector<std::string> paths;
    Outcome expected;
    for (const auto& [path, kept] : refused) {
        paths.push_back(path);
        expected[path] = notAllowed;
    }
    EXPECT_EQ(removeItems(ann, paths, false), expected);
    EXPECT_EQ(removeItems(ann, paths, true), expected);
    for (const auto& [path, kept] : refused) EXPECT_TRUE(exists(kept)) << path;
    EXPECT_EQ(readFile("/System/Library/keep"), "keep");
    EXPECT_FALSE(exists("/Users/ann/.Trash"));
}

TEST_F(RemovalRequests, AllowedItemsAreDeletedAndFailuresNamedUnderThePathAsSent) {
    makeFile("/Library/Caches/com.example.Tree/a/b/c.txt", "x");
    makeFile("/Library/Caches/com.example.Tree/top.txt", "x");
    makeFile("/System/Library/Target/inside.txt", "target");
    makeSymlink("/System/Library/Target", "/Library/Caches/com.example.link");
    makeSymlink("/Library/Logs", "/Library/Caches/com.example.logs");
    makeFile("/Library/Logs/com.example.log", "log");
    makeFile("/Users/ann/Library/Caches/com.example.app/blob", "x", {501, 20});
    makeFile("/Users/Shared/Projects/plan.txt", "x");
    makeFile("/usr/local/lib/libexample/lib.so", "x");
    makeFile("/Applications/Other.app/Contents/MacOS/Other", "x");
    makeFile("/private/var/log/com.example.log", "x");

    const Outcome outcome = removeItems(ann,
                                        {"/Library/Caches/com.example.Tree", "/Library/Caches/com.example.link",
                                         "/Library/Caches/com.example.logs/com.example.log",
                                         "/Library/Caches/com.example.logs/missing",
                                         "/Users/ann/Library/Caches/com.example.app", "/Users/Shared/Projects",
                                         "/usr/local/lib/libexample", "/Applications/Other.app",
                                         "/private/var/log/com.example.log", "/Library/Caches/com.example.Missing"},
                                        false);
    EXPECT_EQ(outcome, (Outcome{
                           {"/Library/Caches/com.example.logs/missing", failure("stat missing", ENOENT)},
                           {"/Library/Caches/com.example.Missing", failure("stat com.example.Missing", ENOENT)},
                       }));
    for (const char* gone : {"/Library/Caches/com.example.Tree", "/Library/Caches/com.example.link",
                             "/Library/Logs/com.example.log", "/Users/ann/Library/Caches/com.example.app",
                             "/Users/Shared/Projects", "/usr/local/lib/libexample", "/Applications/Other.app",
                             "/private/var/log/com.example.log"}) {
        EXPECT_FALSE(exists(gone)) << gone;
    }
    // Links are removed as links; what they point to stays.
    EXPECT_EQ(readFile("/System/Library/Target/inside.txt"), "target");
    EXPECT_TRUE(isSymlink("/Library/Caches/com.example.logs"));
    EXPECT_TRUE(exists("/Library/Logs"));
}

TEST_F(RemovalRequests, TheSamePathTwiceRemovesOnceAndReportsTheSecond) {
    makeFile("/Library/Caches/com.example.Twice/file", "x");
    EXPECT_EQ(removeItems(ann, {"/Library/Caches/com.example.Twice", "/Library/Caches/com.example.Twice"}, false),
              (Outcome{{"/Library/Caches/com.example.Twice", failure("stat com.example.Twice", ENOENT)}}));
    EXPECT_FALSE(exists("/Library/Caches/com.example.Twice"));

    makeFile("/Library/Caches/com.example.TwiceTrash", "x");
    EXPECT_EQ(removeItems(ann, {"/Library/Caches/com.example.TwiceTrash", "/Library/Caches/com.example.TwiceTrash"}, true),
              (Outcome{{"/Library/Caches/com.example.TwiceTrash", failure("stat com.example.TwiceTrash", ENOENT)}}));
    EXPECT_EQ(namesIn("/Users/ann/.Trash"), std::vector<std::string>{"com.example.TwiceTrash"});
}

TEST_F(RemovalRequests, MovedItemsLandInTheClientsTrashOwnedByTheClient) {
    makeFile("/Library/Caches/com.example.Trashed/sub/deep.txt", "x");
    makeFile("/Library/Caches/com.example.Trashed/top.txt", "x");
    makeSymlink("/System/Library", "/Library/Caches/com.example.Trashed/link");
    // A file with a second hard link elsewhere keeps its owner.
    makeFile("/Library/Caches/com.example.Trashed/shared.txt", "x");
    removeAll("/Library/Caches/com.example.otherLink");
    ASSERT_EQ(::link("/Library/Caches/com.example.Trashed/shared.txt", "/Library/Caches/com.example.otherLink"), 0);
    makeFile("/Users/Shared/report.pdf", "pdf");

    EXPECT_EQ(removeItems(ann, {"/Library/Caches/com.example.Trashed", "/Users/Shared/report.pdf"}, true), Outcome{});

    EXPECT_FALSE(exists("/Library/Caches/com.example.Trashed"));
    EXPECT_FALSE(exists("/Users/Shared/report.pdf"));
    EXPECT_EQ(ownerOf("/Users/ann/.Trash"), (Owner{501, 20}));
    EXPECT_EQ(permissionsOf("/Users/ann/.Trash"), 0700u);
    EXPECT_EQ(namesIn("/Users/ann/.Trash"), (std::vector<std::string>{"com.example.Trashed", "report.pdf"}));
    EXPECT_EQ(entriesNotOwnedBy("/Users/ann/.Trash/com.example.Trashed", {501, 20}),
              std::vector<std::string>{"/Users/ann/.Trash/com.example.Trashed/shared.txt"});
    EXPECT_EQ(ownerOf("/Users/ann/.Trash/report.pdf"), (Owner{501, 20}));
    EXPECT_TRUE(isSymlink("/Users/ann/.Trash/com.example.Trashed/link"));
    EXPECT_EQ(ownerOf("/System/Library"), (Owner{0, 0}));
    EXPECT_EQ(ownerOf("/Library/Caches/com.example.otherLink"), (Owner{0, 0}));
    removeAll("/Library/Caches/com.example.otherLink");
}

TEST_F(RemovalRequests, ATakenNameInTheTrashGivesTheNextFreeNumber) {
    makeFolder("/Users/ann/.Trash", {501, 20}, 0700);
    for (const char* taken : {"/Users/ann/.Trash/report.pdf", "/Users/ann/.Trash/report 2.pdf", "/Users/ann/.Trash/notes",
                              "/Users/ann/.Trash/notes 2", "/Users/ann/.Trash/notes 3"}) {
        makeFile(taken, "old", {501, 20});
    }
    makeFile("/Library/Caches/com.example.A/report.pdf", "new");
    makeFile("/Library/Caches/com.example.B/notes", "new");

    EXPECT_EQ(removeItems(ann, {"/Library/Caches/com.example.A/report.pdf", "/Library/Caches/com.example.B/notes"}, true),
              Outcome{});
    EXPECT_EQ(readFile("/Users/ann/.Trash/report 3.pdf"), "new");
    EXPECT_EQ(readFile("/Users/ann/.Trash/notes 4"), "new");
    EXPECT_EQ(readFile("/Users/ann/.Trash/report.pdf"), "old");
}

struct TrashCase {
    const char* name;
    std::function<void()> prepare;  // shapes /Users/ann/.Trash
    std::string expected;           // the reason for the one path; empty: moved
};

TEST_F(RemovalRequests, ATrashThatIsNotTheClientsRefusesTheMove) {
    const std::vector<TrashCase> cases = {
        {"owned by root", [] { makeFolder("/Users/ann/.Trash", {0, 0}, 0700); },
         failure(".Trash is not the user's folder", EPERM)},
        {"owned by bob", [] { makeFolder("/Users/ann/.Trash", {502, 20}, 0700); },
         failure(".Trash is not the user's folder", EPERM)},
        {"a symbolic link", [] {
             makeFolder("/Users/ann/Documents/RealTrash", {501, 20}, 0700);
             makeSymlink("/Users/ann/Documents/RealTrash", "/Users/ann/.Trash");
         },
         failure("open .Trash", ENOTDIR)},
        {"a file", [] { makeFile("/Users/ann/.Trash", "", {501, 20}); }, failure("open .Trash", ENOTDIR)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        removeAll("/Users/ann/.Trash");
        removeAll("/Users/ann/Documents/RealTrash");
        c.prepare();
        makeFile("/Library/Caches/com.example.Stays", "x");
        EXPECT_EQ(removeItems(ann, {"/Library/Caches/com.example.Stays"}, true),
                  (Outcome{{"/Library/Caches/com.example.Stays", c.expected}}));
        EXPECT_TRUE(exists("/Library/Caches/com.example.Stays"));
    }
    EXPECT_EQ(namesIn("/Users/ann/Documents/RealTrash"), std::vector<std::string>{});
    removeAll("/Users/ann/.Trash");
    removeAll("/Users/ann/Documents/RealTrash");
}

TEST_F(RemovalRequests, AMoveOffTheStartupVolumeFailsAndLeavesTheItem) {
    makeFile("/usr/local/lib/libmoved/lib.so", "x");
    EXPECT_EQ(removeItems(ann, {"/usr/local/lib/libmoved"}, true),
              (Outcome{{"/usr/local/lib/libmoved", failure("move libmoved", EXDEV)}}));
    EXPECT_TRUE(exists("/usr/local/lib/libmoved/lib.so"));
    EXPECT_EQ(removeItems(ann, {"/usr/local/lib/libmoved"}, false), Outcome{});
    EXPECT_FALSE(exists("/usr/local/lib/libmoved"));
}

TEST_F(RemovalRequests, ClientsWithoutAHomeUnderUsersHaveNoTrash) {
    for (const User& client : {root, nohome}) {
        SCOPED_TRACE(client.name);
        makeFile("/Library/Caches/com.example.NoHome", "x");
        makeFile("/Users/Shared/NoHome", "x");
        makeFile("/Users/bob/Foo", "x", {502, 20});
        EXPECT_EQ(removeItems(client, {"/Library/Caches/com.example.NoHome", "/Users/Shared/NoHome", "/Users/bob/Foo"}, true),
                  (Outcome{{"/Library/Caches/com.example.NoHome", noTrash},
                           {"/Users/Shared/NoHome", noTrash},
                           {"/Users/bob/Foo", notAllowed}}));
        EXPECT_TRUE(exists("/Library/Caches/com.example.NoHome"));
        EXPECT_TRUE(exists("/Users/Shared/NoHome"));
        EXPECT_TRUE(exists("/Users/bob/Foo"));

        // Deleting needs no Trash.
        EXPECT_EQ(removeItems(client, {"/Library/Caches/com.example.NoHome", "/Users/Shared/NoHome"}, false), Outcome{});
        EXPECT_FALSE(exists("/Library/Caches/com.example.NoHome"));
        EXPECT_FALSE(exists("/Users/Shared/NoHome"));
    }
    removeAll("/Users/bob/Foo");
}

class MountedVolume {
public:
    explicit MountedVolume(std::string path) : path_(std::move(path)) {
        makeFolder(path_);
        mounted_ = ::mount("e2e-volume", path_.c_str(), "tmpfs", 0, "mode=0755") == 0;
        EXPECT_TRUE(mounted_) << "mount " << path_;
        makeFile(path_ + "/inner.txt", "inner");
    }
    ~MountedVolume() {
        if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
    }
    MountedVolume(const MountedVolume&) = delete;
    MountedVolume& operator=(const MountedVolume&) = delete;

private:
    std::string path_;
    bool mounted_ = false;
};

TEST_F(RemovalRequests, AMountPointInsideATreeStopsTheRemovalThere) {
    const std::string tree = "/Library/Caches/com.example.Mounted";
    makeFile(tree + "/before.txt", "x");
    makeFile(tree + "/after.txt", "x");
    {
        MountedVolume volume(tree + "/volume");
        EXPECT_EQ(removeItems(ann, {tree}, false), (Outcome{{tree, failure("remove volume", EXDEV)}}));
        EXPECT_EQ(readFile(tree + "/volume/inner.txt"), "inner");
        EXPECT_TRUE(exists(tree));
    }
    EXPECT_EQ(removeItems(ann, {tree}, false), Outcome{});
    EXPECT_FALSE(exists(tree));
}

TEST_F(RemovalRequests, AnItemThatIsAVolumeOfItsOwnIsNotRemoved) {
    const std::string item = "/Library/Caches/com.example.Volume";
    MountedVolume volume(item);
    EXPECT_EQ(removeItems(ann, {item}, false), (Outcome{{item, failure("remove com.example.Volume", EXDEV)}}));
    EXPECT_EQ(readFile(item + "/inner.txt"), "inner");
}

}  // namespace
