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
    void TearDown() override {
        EXPECT_TRUE(IsSkipped() || openDescriptorCount() == descriptorsBefore) << "a descriptor leaked";
    }
    std::optional<Failure> moveToTrash(const std::string& name, const std::string& home = "home") {
        return failureOf([&] { AnchoredFiles::moveToTrash(name, scratch / "hold", scratch / home, user.uid, user.gid); });
    }

    ScratchFolder scratch;
    int descriptorsBefore = 0;
};

TEST(AnchoredNames, FailureTextsAndTrashCandidates) {
    EXPECT_EQ(AnchoredFiles::entryFailure("stat", "a\0b"s, ENOENT), (Failure{"stat a", ENOENT}));
    EXPECT_EQ(AnchoredFiles::entryFailure("list", "a\xFF" "b", 5).operation, "list a\xEF\xBF\xBD" "b");
    const std::tuple<const char*, int, const char*> cases[] = {
        {"report.pdf", 2, "report 2.pdf"}, {"a.tar.gz", 3, "a.tar 3.gz"}, {".profile", 2, ".profile 2"},
        {"name.", 4, "name. 4"},           {"..", 2, ".. 2"},
    };
    for (const auto& [name, n, candidate] : cases)
        EXPECT_EQ(policyAnswer({{"op", "trash-candidate"}, {"name", name}, {"n", n}}), candidate);
}

// Opening a child folder as the object inspected is proven against a racing attacker.
TEST_F(AnchoredFilesTest, OpeningRefusesLinks) {
    FileTree::makeFolder(scratch / "real/inner");
    FileTree::makeFile(scratch / "real/file");
    FileTree::makeSymlink(scratch / "real", scratch / "link");
    const std::pair<std::string, Failure> cases[] = {
        {"relative/path", {"open", EINVAL}}, {"/tmp\0/x"s, {"open", EINVAL}},
        {scratch / "link/inner", {"open " + (scratch / "link/inner"), ELOOP}},
        {scratch / "real/file", {"open " + (scratch / "real/file"), ENOTDIR}},
    };
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(failureOf([&, &path = path] { AnchoredFiles::openDirectory(path); }), expected) << path;
    EXPECT_EQ(::fcntl(AnchoredFiles::openDirectory(scratch / "real/inner").get(), F_GETFD), FD_CLOEXEC);
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

TEST_F(AnchoredFilesTest, RemovalFailures) {
    FileTree::makeFile(scratch / "hold/file");
    FileTree::makeSymlink(scratch / "hold", scratch / "link");
    const std::tuple<std::string, std::string, Failure> cases[] = {
        {"", scratch / "hold", {"remove", EINVAL}},       {"..", scratch / "hold", {"remove", EINVAL}},
        {"hold/file", scratch.path(), {"remove", EINVAL}}, {"file\0x"s, scratch / "hold", {"remove", EINVAL}},
        {"file", "hold", {"open", EINVAL}},               {"file", scratch / "link", {"open " + (scratch / "link"), ELOOP}},
        {"missing", scratch / "hold", {"stat missing", ENOENT}},
    };
    for (const auto& [name, holding, expected] : cases)
        EXPECT_EQ(failureOf([&, &name = name, &holding = holding] { AnchoredFiles::remove(name, holding); }), expected)
            << name << " in " << holding;
    EXPECT_TRUE(FileTree::exists(scratch / "hold/file"));
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

TEST_F(AnchoredFilesTest, TrashFailures) {
    FileTree::makeFile(scratch / "hold/item");
    FileTree::makeFolder(scratch / "elsewhere", user, 0700);
    for (const char* home : {"link", "file", "root", "other", "plain"}) FileTree::makeFolder(scratch / home, user, 0750);
    FileTree::makeSymlink(scratch / "elsewhere", scratch / "link/.Trash");
    FileTree::makeFile(scratch / "file/.Trash", "", user);
    FileTree::makeFolder(scratch / "root/.Trash", {}, 0700);
    FileTree::makeFolder(scratch / "other/.Trash", {502, 20}, 0700);
    const std::string notTheUsers = ".Trash is not the user's folder";
    const std::tuple<const char*, const char*, Failure> cases[] = {
        {"link", "item", {"open .Trash", ENOTDIR}}, {"file", "item", {"open .Trash", ENOTDIR}},
        {"root", "item", {notTheUsers, EPERM}},     {"other", "item", {notTheUsers, EPERM}},
        {"plain", "missing", {"stat missing", ENOENT}}, {"plain", "../item", {"move", EINVAL}},
    };
    for (const auto& [home, name, expected] : cases) EXPECT_EQ(moveToTrash(name, home), expected) << home << " " << name;
    EXPECT_TRUE(FileTree::exists(scratch / "hold/item"));
    EXPECT_TRUE(FileTree::namesIn(scratch / "elsewhere").empty());
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
