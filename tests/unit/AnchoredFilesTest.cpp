#include "shared/AnchoredFiles.h"
#include "support/FileTree.h"
#include "support/PolicyCases.h"
#include "support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

using namespace std::string_literals;
using AnchoredFiles::Failure;
using FileTree::failureOf;

constexpr FileTree::Owner user{501, 20};

// Every test must leave the descriptor count as it found it.
class AnchoredFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "the anchored file operations are tested as root";
        descriptorsBefore = openDescriptorCount();
    }
    void TearDown() override { EXPECT_TRUE(IsSkipped() || openDescriptorCount() == descriptorsBefore) << "leaked"; }
    std::optional<Failure> moveToTrash(const std::string& name) {
        const std::string hold = scratch / "hold", home = scratch / "home";
        return failureOf([&] { AnchoredFiles::moveToTrash(name, hold, home, user.uid, user.gid); });
    }

    ScratchFolder scratch{"/dev/shm"};  // trees of thousands of entries: a memory file system keeps them quick
    int descriptorsBefore = 0;
};

TEST(AnchoredNames, FailureTextsAndTrashCandidates) {
    EXPECT_EQ(AnchoredFiles::entryFailure("stat", "a\0b"s, ENOENT), (Failure{"stat a", ENOENT}));
    EXPECT_EQ(AnchoredFiles::entryFailure("list",
                                          "a\xFF"
                                          "b",
                                          5)
                  .operation,
              "list a\xEF\xBF\xBD"
              "b");
    // clang-format off
    const std::tuple<const char*, int, const char*> cases[] = {
        {"report.pdf", 2, "report 2.pdf"}, {"a.tar.gz", 3, "a.tar 3.gz"}, {".profile", 2, ".profile 2"},
        {"name.", 4, "name. 4"},           {"..", 2, ".. 2"},
    };
    // clang-format on
    for (const auto& [name, n, candidate] : cases)
        EXPECT_EQ(policyAnswer({{"op", "trash-candidate"}, {"name", name}, {"n", n}}), candidate);
}

// Folders of more entries than one directory read returns, a deep chain, a
// link to a folder inside the tree and one as the item.
TEST_F(AnchoredFilesTest, RemovesFilesLinksAndTreesButNeverALinkTarget) {
    FileTree::makeFile(scratch / "outside/folder/file", "keep");
    FileTree::makeFile(scratch / "hold/file");
    FileTree::makeSymlink(scratch / "outside/folder", scratch / "hold/link to folder");
    FileTree::makeWideTree(scratch / "hold/wide", 2, 1500);
    std::string deep = scratch / "hold/deep";
    for (int level = 0; level < 300; ++level) deep += "/d";
    FileTree::makeFile(deep + "/leaf");
    FileTree::makeSymlink(scratch / "outside/folder", scratch / "hold/wide/d0/link");
    ::mkfifo((scratch / "hold/wide/fifo").c_str(), 0600);

    const auto outsideBefore = snapshotOf(scratch / "outside");
    for (const char* item : {"file", "link to folder", "wide", "deep"})
        EXPECT_EQ(failureOf([&] { AnchoredFiles::remove(item, scratch / "hold"); }), std::nullopt) << item;
    EXPECT_TRUE(FileTree::namesIn(scratch / "hold").empty());
    EXPECT_EQ(snapshotOf(scratch / "outside"), outsideBefore);
}

TEST_F(AnchoredFilesTest, TrashTakesTheFirstFreeNameAndGivesUpAfterTheLast) {
    FileTree::makeFolder(scratch / "home", user, 0750);
    FileTree::makeFile(scratch / "hold/report.pdf", "one");
    const mode_t mask = ::umask(0777);  // a missing Trash is made 0700 whatever the umask
    EXPECT_EQ(moveToTrash("report.pdf"), std::nullopt);
    ::umask(mask);
    EXPECT_EQ(FileTree::ownerOf(scratch / "home/.Trash"), user);
    EXPECT_EQ(FileTree::permissionsOf(scratch / "home/.Trash"), 0700u);

    FileTree::makeFile(scratch / "home/.Trash/report 2.pdf");
    FileTree::makeFile(scratch / "hold/report.pdf", "two");
    EXPECT_EQ(AnchoredFiles::moveToTrash("report.pdf", scratch / "hold", scratch / "home", user.uid, user.gid),
              "report 3.pdf");
    EXPECT_EQ(FileTree::readFile(scratch / "home/.Trash/report 3.pdf"), "two");

    UniqueFd trash = AnchoredFiles::openDirectory(scratch / "home/.Trash");
    for (int n = 1; n <= 9999; ++n)
        UniqueFd(::openat(trash.get(), n == 1 ? "Caches" : AnchoredFiles::trashCandidateName("Caches", n).c_str(),
                          O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
    FileTree::makeFolder(scratch / "hold/Caches");
    EXPECT_EQ(moveToTrash("Caches"), (Failure{"move Caches", EEXIST}));
    EXPECT_TRUE(FileTree::exists(scratch / "hold/Caches"));
}

// Each failure: the item, its holding folder and the home folder (none for a
// removal); the item stays, and nothing is followed through a link.
TEST_F(AnchoredFilesTest, FailuresLeaveEverythingInPlace) {
    FileTree::makeFile(scratch / "hold/item");
    FileTree::makeFolder(scratch / "elsewhere", user, 0700);
    FileTree::makeSymlink(scratch / "hold", scratch / "holdLink");
    for (const char* home : {"link", "file", "root", "other", "plain"})
        FileTree::makeFolder(scratch / home, user, 0750);
    FileTree::makeSymlink(scratch / "elsewhere", scratch / "link/.Trash");
    FileTree::makeFile(scratch / "file/.Trash", "", user);
    FileTree::makeFolder(scratch / "root/.Trash", {}, 0700);
    FileTree::makeFolder(scratch / "other/.Trash", {502, 20}, 0700);
    const std::string hold = scratch / "hold", notTheUsers = ".Trash is not the user's folder";
    // clang-format off
    const std::tuple<std::string, std::string, const char*, Failure> cases[] = {
        {"", hold, nullptr, {"remove", EINVAL}},          {"..", hold, nullptr, {"remove", EINVAL}},
        {"x/item", scratch / "hold", nullptr, {"remove", EINVAL}}, {"item\0x"s, hold, nullptr, {"remove", EINVAL}},
        {"item", "hold", nullptr, {"open", EINVAL}},      {"item", "/tmp\0/x"s, nullptr, {"open", EINVAL}},
        {"item", scratch / "holdLink/.", nullptr, {"open " + (scratch / "holdLink/."), ELOOP}},
        {"x", scratch / "hold/item", nullptr, {"open " + (scratch / "hold/item"), ENOTDIR}},
        {"missing", hold, nullptr, {"stat missing", ENOENT}},
        {"item", hold, "link", {"open .Trash", ENOTDIR}}, {"item", hold, "file", {"open .Trash", ENOTDIR}},
        {"item", hold, "root", {notTheUsers, EPERM}},     {"item", hold, "other", {notTheUsers, EPERM}},
        {"missing", hold, "plain", {"stat missing", ENOENT}}, {"../item", hold, "plain", {"move", EINVAL}},
    };
    // clang-format on
    for (const auto& [name, holding, home, expected] : cases) {
        const auto failure = failureOf([&, &name = name, &holding = holding, home = home] {
            if (home)
                AnchoredFiles::moveToTrash(name, holding, scratch / home, user.uid, user.gid);
            else
                AnchoredFiles::remove(name, holding);
        });
        EXPECT_EQ(failure, expected) << name << " in " << holding << " to " << (home ? home : "none");
    }
    EXPECT_TRUE(FileTree::exists(scratch / "hold/item"));
    EXPECT_TRUE(FileTree::namesIn(scratch / "elsewhere").empty());
    EXPECT_EQ(::fcntl(AnchoredFiles::openDirectory(hold).get(), F_GETFD), FD_CLOEXEC);
}

// Folders of root with mode 0755 are sealed (nobody else can change their
// entries); 0777 folders are not; both ways must hand over the same entries.
TEST_F(AnchoredFilesTest, TheMovedTreeIsHandedToTheUserExceptSharedFiles) {
    for (mode_t folderMode : {0755, 0777}) {
        SCOPED_TRACE(folderMode);
        FileTree::removeAll(scratch / "home");
        FileTree::makeFolder(scratch / "home", user, 0750);
        const std::string item = scratch / "hold/item";
        FileTree::makeFolder(item, {}, folderMode);
        FileTree::makeFolder(item + "/sub", {502, 20}, folderMode);
        FileTree::makeFolder(item + "/sub/deeper", {}, folderMode);
        FileTree::makeFile(item + "/sub/deeper/file", "", {502, 20});
        FileTree::makeFile(scratch / "outside/target");
        FileTree::makeSymlink(scratch / "outside/target", item + "/sub/link");
        ASSERT_EQ(::link((scratch / "outside/target").c_str(), (item + "/shared").c_str()), 0);
        ASSERT_EQ(::mkfifo((item + "/fifo").c_str(), 0600), 0);

        EXPECT_EQ(moveToTrash("item"), std::nullopt);
        const std::string moved = scratch / "home/.Trash/item";
        EXPECT_EQ(FileTree::entriesNotOwnedBy(moved, user), std::vector<std::string>{moved + "/shared"});
        EXPECT_EQ(FileTree::ownerOf(scratch / "outside/target"), FileTree::Owner{});  // through neither link
        EXPECT_TRUE(FileTree::isSymlink(moved + "/sub/link"));
    }
}

}  // namespace
