#include "shared/AnchoredFiles.h"
#include "support/FileTree.h"
#include "support/PolicyCases.h"
#include "support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <set>

namespace {

using AnchoredFiles::Failure;
using FileTree::Owner;
using FileTree::failureOf;

constexpr Owner user{501, 20};
constexpr Owner otherUser{502, 20};


ino_t inodeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_ino;
}

AnchoredFiles::FileIdentity identityOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return {st.st_dev, st.st_ino};
}

// Every test must leave the descriptor count as it found it.
class AnchoredFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "the anchored file operations are tested as root";
        descriptorsBefore = openDescriptorCount();
    }
    void TearDown() override {
        if (!IsSkipped()) {
            EXPECT_EQ(openDescriptorCount(), descriptorsBefore) << "a descriptor leaked";
        }
    }

    ScratchFolder scratch;
    int descriptorsBefore = 0;
};

TEST(AnchoredFailure, DescriptionAndEntryNames) {
    using namespace std::string_literals;
    EXPECT_EQ((Failure{"open .Trash", EXDEV}.description()), std::string("open .Trash: ") + std::strerror(EXDEV));
    EXPECT_NE((Failure{"a", 1}), (Failure{"a", 2}));
    EXPECT_NE((Failure{"a", 1}), (Failure{"b", 1}));
    EXPECT_EQ(AnchoredFiles::entryFailure("remove", "cache", EXDEV), (Failure{"remove cache", EXDEV}));
    EXPECT_EQ(AnchoredFiles::entryFailure("stat", "a\0b"s, ENOENT), (Failure{"stat a", ENOENT}));
    EXPECT_EQ(AnchoredFiles::entryFailure("open", "\0b"s, EAGAIN), (Failure{"open ", EAGAIN}));
    EXPECT_EQ(AnchoredFiles::entryFailure("list", "caf\xC3\xA9", 5).operation, "list caf\xC3\xA9");
    EXPECT_EQ(AnchoredFiles::entryFailure("list", "a\xFF" "b", 5).operation, "list a\xEF\xBF\xBD" "b");
}

TEST(AnchoredNames, PlainNames) {
    using namespace std::string_literals;
    for (std::string name : {""s, "."s, ".."s, "a/b"s, "/"s, "a\0b"s, "x/"s})
        EXPECT_FALSE(AnchoredFiles::isPlainName(name)) << name;
    for (std::string name : {".hidden"s, "..."s, "with blanks"s, "caf\xC3\xA9"s, "a..b"s})
        EXPECT_TRUE(AnchoredFiles::isPlainName(name)) << name;
}

TEST(AnchoredNames, TrashCandidatesPutTheNumberBeforeTheExtension) {
    const std::tuple<const char*, int, const char*> cases[] = {
        {"report.pdf", 2, "report 2.pdf"}, {"a.tar.gz", 3, "a.tar 3.gz"}, {"plain", 9999, "plain 9999"},
        {".profile", 2, ".profile 2"},     {"name.", 4, "name. 4"},       {".a.b", 2, ".a 2.b"},
        {"...", 2, "... 2"},               {"..", 2, ".. 2"},
    };
    for (const auto& [name, n, candidate] : cases)
        EXPECT_EQ(policyAnswer({{"op", "trash-candidate"}, {"name", name}, {"n", n}}), candidate);
}

TEST_F(AnchoredFilesTest, OpenDirectoryRefusesEveryLinkAndNonFolder) {
    FileTree::makeFolder(scratch / "real/inner");
    FileTree::makeFile(scratch / "real/file");
    FileTree::makeSymlink(scratch / "real", scratch / "link");
    using namespace std::string_literals;
    const std::pair<std::string, Failure> cases[] = {
        {"relative/path", {"open", EINVAL}},
        {"", {"open", EINVAL}},
        {"/tmp\0/x"s, {"open", EINVAL}},
        {scratch / "link", {"open " + (scratch / "link"), ELOOP}},
        {scratch / "link/inner", {"open " + (scratch / "link/inner"), ELOOP}},
        {scratch / "real/file", {"open " + (scratch / "real/file"), ENOTDIR}},
        {scratch / "missing", {"open " + (scratch / "missing"), ENOENT}},
    };
    for (const auto& [path, expected] : cases) {
        const std::string& opened = path;
        EXPECT_EQ(failureOf([&] { AnchoredFiles::openDirectory(opened); }), expected) << path;
    }

    EXPECT_TRUE(AnchoredFiles::openDirectory("/").valid());
    UniqueFd inner = AnchoredFiles::openDirectory(scratch / "real/inner");
    struct stat st {};
    ASSERT_EQ(::fstat(inner.get(), &st), 0);
    EXPECT_EQ(st.st_ino, inodeOf(scratch / "real/inner"));
    EXPECT_EQ(::fcntl(inner.get(), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
}

TEST_F(AnchoredFilesTest, OpenChildDirectoryProvesTheIdentity) {
    FileTree::makeFolder(scratch / "a");
    FileTree::makeFolder(scratch / "b");
    FileTree::makeSymlink("a", scratch / "link");
    UniqueFd parent = AnchoredFiles::openDirectory(scratch.path());

    UniqueFd child = AnchoredFiles::openChildDirectory("a", parent.get(), identityOf(scratch / "a"));
    EXPECT_EQ(::fcntl(child.get(), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);

    const auto seen = identityOf(scratch / "a");
    // "a" replaced by another folder after it was inspected.
    ASSERT_EQ(::renameat2(AT_FDCWD, (scratch / "b").c_str(), AT_FDCWD, (scratch / "a").c_str(), RENAME_EXCHANGE), 0);
    const std::pair<std::string, Failure> cases[] = {
        {"a", {"open a", EAGAIN}},
        {"link", {"open link", ENOTDIR}},  // a link is refused, never followed
        {"missing", {"open missing", ENOENT}},
    };
    for (const auto& [name, expected] : cases) {
        const std::string& entry = name;
        EXPECT_EQ(failureOf([&] { AnchoredFiles::openChildDirectory(entry, parent.get(), seen); }), expected);
    }
}

TEST_F(AnchoredFilesTest, ListingNamesEveryEntryOnceAndLeavesTheDescriptorUsable) {
    // More entries than one directory read returns.
    UniqueFd folder = AnchoredFiles::openDirectory(scratch.path());
    std::set<std::string> made{".hidden"};
    ASSERT_EQ(::mkdirat(folder.get(), ".hidden", 0755), 0);
    for (int i = 0; i < 1500; ++i) {
        const std::string name = "entry " + std::to_string(i);
        made.insert(name);
        UniqueFd(::openat(folder.get(), name.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
    }
    for (int round = 0; round < 2; ++round) {  // the second listing starts over
        const auto names = AnchoredFiles::listEntryNames(folder.get());
        EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), made);
        EXPECT_EQ(names.size(), made.size());
    }
    struct stat st {};
    EXPECT_EQ(::fstatat(folder.get(), ".hidden", &st, 0), 0);

    UniqueFd file(::open((scratch / "entry 1").c_str(), O_RDONLY | O_CLOEXEC));
    EXPECT_EQ(failureOf([&] { AnchoredFiles::listEntryNames(file.get()); }), (Failure{"list", ENOTDIR}));
    EXPECT_EQ(failureOf([&] { AnchoredFiles::listEntryNames(-1); }), (Failure{"list", EBADF}));
}

TEST_F(AnchoredFilesTest, RemovesFilesLinksAndTreesButNeverALinkTarget) {
    FileTree::makeFile(scratch / "outside/file", "keep");
    FileTree::makeFile(scratch / "outside/folder/file", "keep");
    FileTree::makeFile(scratch / "hold/file");
    FileTree::makeSymlink(scratch / "outside/file", scratch / "hold/link to file");
    FileTree::makeSymlink(scratch / "outside/folder", scratch / "hold/link to folder");
    FileTree::makeFolder(scratch / "hold/empty");
    FileTree::makeWideTree(scratch / "hold/wide", 60, 20);
    std::string deep = scratch / "hold/deep";
    for (int level = 0; level < 300; ++level) deep += "/d";
    FileTree::makeFile(deep + "/leaf");
    FileTree::makeSymlink(scratch / "outside/folder", scratch / "hold/wide/d0/link");
    ::mkfifo((scratch / "hold/wide/fifo").c_str(), 0600);

    const auto outsideBefore = snapshotOf(scratch / "outside");
    for (const char* item : {"file", "link to file", "link to folder", "empty", "wide", "deep"}) {
        EXPECT_EQ(failureOf([&] { AnchoredFiles::remove(item, scratch / "hold"); }), std::nullopt) << item;
        EXPECT_FALSE(FileTree::exists(scratch / "hold/" + item)) << item;
    }
    EXPECT_TRUE(FileTree::namesIn(scratch / "hold").empty());
    EXPECT_EQ(snapshotOf(scratch / "outside"), outsideBefore);
}

TEST_F(AnchoredFilesTest, RemovalFailures) {
    FileTree::makeFolder(scratch / "hold");
    FileTree::makeFile(scratch / "hold/file");
    FileTree::makeSymlink(scratch / "hold", scratch / "link");
    using namespace std::string_literals;
    const std::tuple<std::string, std::string, Failure> cases[] = {
        {"", scratch / "hold", {"remove", EINVAL}},
        {".", scratch / "hold", {"remove", EINVAL}},
        {"..", scratch / "hold", {"remove", EINVAL}},
        {"hold/file", scratch.path(), {"remove", EINVAL}},
        {"file\0x"s, scratch / "hold", {"remove", EINVAL}},
        {"file", "hold", {"open", EINVAL}},
        {"file", scratch / "link", {"open " + (scratch / "link"), ELOOP}},
        {"missing", scratch / "hold", {"stat missing", ENOENT}},
    };
    for (const auto& [name, holding, expected] : cases) {
        const std::string &item = name, &folder = holding;
        EXPECT_EQ(failureOf([&] { AnchoredFiles::remove(item, folder); }), expected) << name << " in " << holding;
    }
    EXPECT_TRUE(FileTree::exists(scratch / "hold/file"));
}

TEST_F(AnchoredFilesTest, TrashKeepsAFreeNameAndOtherwiseTakesTheNextCandidate) {
    FileTree::makeFolder(scratch / "home", user, 0750);
    FileTree::makeFolder(scratch / "home/.Trash", user, 0700);
    FileTree::makeFile(scratch / "hold/report.pdf", "one");
    EXPECT_EQ(AnchoredFiles::moveToTrash("report.pdf", scratch / "hold", scratch / "home", user.uid, user.gid),
              "report.pdf");

    for (const char* taken : {"report 2.pdf", "report 3.pdf", "report 4.pdf"})
        FileTree::makeFile(scratch / "home/.Trash/" + taken);
    FileTree::makeFile(scratch / "hold/report.pdf", "two");
    EXPECT_EQ(AnchoredFiles::moveToTrash("report.pdf", scratch / "hold", scratch / "home", user.uid, user.gid),
              "report 5.pdf");
    EXPECT_EQ(FileTree::readFile(scratch / "home/.Trash/report.pdf"), "one");
    EXPECT_EQ(FileTree::readFile(scratch / "home/.Trash/report 5.pdf"), "two");
    EXPECT_FALSE(FileTree::exists(scratch / "hold/report.pdf"));
}

TEST_F(AnchoredFilesTest, TrashWithEveryNameTakenLeavesTheItemInPlace) {
    FileTree::makeFolder(scratch / "home", user, 0750);
    FileTree::makeFolder(scratch / "home/.Trash", user, 0700);
    UniqueFd trash = AnchoredFiles::openDirectory(scratch / "home/.Trash");
    UniqueFd(::openat(trash.get(), "Caches", O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
    for (int n = 2; n <= 9999; ++n)
        UniqueFd(::openat(trash.get(), AnchoredFiles::trashCandidateName("Caches", n).c_str(),
                          O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
    FileTree::makeFolder(scratch / "hold/Caches");

    EXPECT_EQ(failureOf([&] {
                  AnchoredFiles::moveToTrash("Caches", scratch / "hold", scratch / "home", user.uid, user.gid);
              }),
              (Failure{"move Caches", EEXIST}));
    EXPECT_TRUE(FileTree::exists(scratch / "hold/Caches"));
}

TEST_F(AnchoredFilesTest, AMissingTrashIsMadeForTheUser) {
    FileTree::makeFolder(scratch / "home", user, 0750);
    FileTree::makeFile(scratch / "hold/item");
    const mode_t mask = ::umask(077);  // the Trash's mode does not depend on the umask
    EXPECT_EQ(AnchoredFiles::moveToTrash("item", scratch / "hold", scratch / "home", user.uid, user.gid), "item");
    ::umask(mask);
    EXPECT_EQ(FileTree::ownerOf(scratch / "home/.Trash"), user);
    EXPECT_EQ(FileTree::permissionsOf(scratch / "home/.Trash"), 0700u);
    EXPECT_EQ(FileTree::ownerOf(scratch / "home/.Trash/item"), user);
}

TEST_F(AnchoredFilesTest, TrashFailures) {
    FileTree::makeFile(scratch / "hold/item");
    FileTree::makeFolder(scratch / "elsewhere", user, 0700);
    struct Case {
        const char* what;
        std::function<void(const std::string& home)> prepare;
        std::string name;
        Failure expected;
    };
    const Case cases[] = {
        {"link", [&](const std::string& home) { FileTree::makeSymlink(scratch / "elsewhere", home + "/.Trash"); },
         "item", {"open .Trash", ENOTDIR}},
        {"file", [](const std::string& home) { FileTree::makeFile(home + "/.Trash", "", user); }, "item",
         {"open .Trash", ENOTDIR}},
        {"root's", [](const std::string& home) { FileTree::makeFolder(home + "/.Trash", {}, 0700); }, "item",
         {".Trash is not the user's folder", EPERM}},
        {"another user's", [](const std::string& home) { FileTree::makeFolder(home + "/.Trash", otherUser, 0700); },
         "item", {".Trash is not the user's folder", EPERM}},
        {"missing item", [](const std::string&) {}, "missing", {"stat missing", ENOENT}},
        {"not plain", [](const std::string&) {}, "../item", {"move", EINVAL}},
        {"dot dot", [](const std::string&) {}, "..", {"move", EINVAL}},
    };
    int round = 0;
    for (const auto& c : cases) {
        const std::string home = scratch / ("home" + std::to_string(round++));
        FileTree::makeFolder(home, user, 0750);
        c.prepare(home);
        EXPECT_EQ(failureOf([&] { AnchoredFiles::moveToTrash(c.name, scratch / "hold", home, user.uid, user.gid); }),
                  c.expected)
            << c.what;
        EXPECT_TRUE(FileTree::exists(scratch / "hold/item")) << c.what;
    }
    EXPECT_EQ(failureOf([&] { AnchoredFiles::moveToTrash("item", scratch / "hold", "home", user.uid, user.gid); }),
              (Failure{"open", EINVAL}));
    EXPECT_TRUE(FileTree::namesIn(scratch / "elsewhere").empty());
}

// Folders of root with mode 0755 are sealed (nobody else can change their
// entries); 0777 folders are not; both ways must hand over the same entries.
TEST_F(AnchoredFilesTest, TheMovedTreeIsHandedToTheUserExceptSharedFiles) {
    for (mode_t folderMode : {0755, 0777}) {
        SCOPED_TRACE(folderMode);
        ScratchFolder base;
        FileTree::makeFolder(base / "home", user, 0750);
        const std::string item = base / "hold/item";
        FileTree::makeFolder(item, {}, folderMode);
        FileTree::makeFolder(item + "/sub", otherUser, folderMode);
        FileTree::makeFolder(item + "/sub/deeper", {}, folderMode);
        FileTree::makeFile(item + "/file");
        FileTree::makeFile(item + "/sub/deeper/file", "", otherUser);
        FileTree::makeFile(base / "outside/target");
        FileTree::makeSymlink(base / "outside/target", item + "/sub/link");
        FileTree::makeSymlink(base / "outside/target", item + "/link");
        ASSERT_EQ(::link((base / "outside/target").c_str(), (item + "/shared").c_str()), 0);
        ASSERT_EQ(::mkfifo((item + "/fifo").c_str(), 0600), 0);

        EXPECT_EQ(AnchoredFiles::moveToTrash("item", base / "hold", base / "home", user.uid, user.gid), "item");
        const std::string moved = base / "home/.Trash/item";
        EXPECT_EQ(FileTree::entriesNotOwnedBy(moved, user), std::vector<std::string>{moved + "/shared"});
        EXPECT_EQ(FileTree::ownerOf(base / "outside/target"), Owner{});  // neither through the link nor the hard link
        EXPECT_TRUE(FileTree::isSymlink(moved + "/sub/link"));
        EXPECT_TRUE(FileTree::isSymlink(moved + "/link"));
    }
}

}  // namespace
