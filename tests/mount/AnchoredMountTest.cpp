// Anchored operations meeting other file systems: each test mounts its own
// tmpfs (this program runs in a private mount namespace of its own).
#include "shared/AnchoredFiles.h"
#include "support/FileTree.h"
#include "support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>

namespace {

using AnchoredFiles::Failure;
using FileTree::Owner;

constexpr Owner user{501, 20};

std::optional<Failure> failureOf(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const Failure& failure) {
        return failure;
    }
    return std::nullopt;
}

// A tmpfs, or a bind mount of `bound` when given, mounted for the life of the
// object.
class Mount {
public:
    explicit Mount(std::string path, const std::string& bound = "") : path_(std::move(path)) {
        FileTree::makeFolder(path_);
        mounted_ = bound.empty() ? ::mount("tmpfs", path_.c_str(), "tmpfs", 0, "size=16m,mode=0755") == 0
                                 : ::mount(bound.c_str(), path_.c_str(), nullptr, MS_BIND, nullptr) == 0;
        EXPECT_TRUE(mounted_) << "mount " << path_ << ": " << std::strerror(errno);
    }
    ~Mount() {
        if (mounted_) {
            EXPECT_EQ(::umount2(path_.c_str(), MNT_DETACH), 0) << std::strerror(errno);
        }
    }
    void makeReadOnly() const {
        EXPECT_EQ(::mount(nullptr, path_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0) << std::strerror(errno);
    }
    void setPath(std::string moved) { path_ = std::move(moved); }

private:
    std::string path_;
    bool mounted_ = false;
};

class AnchoredMountTest : public ::testing::Test {
protected:
    void SetUp() override { descriptorsBefore = openDescriptorCount(); }
    void TearDown() override { EXPECT_EQ(openDescriptorCount(), descriptorsBefore) << "a descriptor leaked"; }

    ScratchFolder scratch;
    int descriptorsBefore = 0;
};

TEST_F(AnchoredMountTest, RemovalStopsAtAMountPointInsideTheTree) {
    const std::string item = scratch / "hold/item";
    for (int i = 0; i < 12; ++i) {
        FileTree::makeFile(item + "/file" + std::to_string(i));
        FileTree::makeFile(item + "/folder" + std::to_string(i) + "/inner");
    }
    Mount mount(item + "/mnt");
    FileTree::makeFile(item + "/mnt/on other volume");

    UniqueFd folder = AnchoredFiles::openDirectory(item);
    const auto order = AnchoredFiles::listEntryNames(folder.get());
    folder.reset();
    const auto at = std::find(order.begin(), order.end(), "mnt");
    ASSERT_NE(at, order.end());

    EXPECT_EQ(failureOf([&] { AnchoredFiles::remove("item", scratch / "hold"); }), (Failure{"remove mnt", EXDEV}));
    for (auto it = order.begin(); it != at; ++it) EXPECT_FALSE(FileTree::exists(item + "/" + *it)) << *it;
    for (auto it = at + 1; it != order.end(); ++it) EXPECT_TRUE(FileTree::exists(item + "/" + *it)) << *it;
    EXPECT_TRUE(FileTree::exists(item + "/mnt/on other volume"));
}

TEST_F(AnchoredMountTest, AnItemThatIsAVolumeRootIsNotTouched) {
    Mount mount(scratch / "hold/volume");
    FileTree::makeFile(scratch / "hold/volume/folder/file");
    EXPECT_EQ(failureOf([&] { AnchoredFiles::remove("volume", scratch / "hold"); }),
              (Failure{"remove volume", EXDEV}));
    EXPECT_TRUE(FileTree::exists(scratch / "hold/volume/folder/file"));
}

TEST_F(AnchoredMountTest, AnItemOnAnotherVolumeCannotMoveToTheTrash) {
    FileTree::makeFolder(scratch / "home", user, 0750);
    Mount mount(scratch / "volume");
    FileTree::makeFile(scratch / "volume/item");
    EXPECT_EQ(failureOf([&] {
                  AnchoredFiles::moveToTrash("item", scratch / "volume", scratch / "home", user.uid, user.gid);
              }),
              (Failure{"move item", EXDEV}));
    EXPECT_TRUE(FileTree::exists(scratch / "volume/item"));
}

TEST_F(AnchoredMountTest, TheHandOverStaysOnTheTrashVolume) {
    FileTree::makeFolder(scratch / "home", user, 0750);
    FileTree::makeFile(scratch / "hold/item/file");
    Mount mount(scratch / "hold/item/mnt");
    FileTree::makeFile(scratch / "hold/item/mnt/file");

    ASSERT_EQ(AnchoredFiles::moveToTrash("item", scratch / "hold", scratch / "home", user.uid, user.gid), "item");
    const std::string moved = scratch / "home/.Trash/item";
    mount.setPath(moved + "/mnt");
    auto notTheUsers = FileTree::entriesNotOwnedBy(moved, user);
    std::sort(notTheUsers.begin(), notTheUsers.end());
    EXPECT_EQ(notTheUsers, (std::vector<std::string>{moved + "/mnt", moved + "/mnt/file"}));
}

// A bind mount has the device of its surroundings, and is a mount point all
// the same: neither removal nor the hand-over enters it.
TEST_F(AnchoredMountTest, ABindMountOfTheSameFileSystemIsNotEntered) {
    const std::string elsewhere = scratch / "elsewhere";
    FileTree::makeFile(elsewhere + "/kept");
    FileTree::makeFolder(scratch / "home", user, 0750);
    FileTree::makeFile(scratch / "hold/tree/file");
    FileTree::makeFile(scratch / "hold/gift/file");
    Mount item(scratch / "hold/item", elsewhere);
    Mount inTree(scratch / "hold/tree/mnt", elsewhere);
    Mount inGift(scratch / "hold/gift/mnt", elsewhere);

    EXPECT_EQ(failureOf([&] { AnchoredFiles::remove("item", scratch / "hold"); }), (Failure{"remove item", EXDEV}));
    EXPECT_EQ(failureOf([&] { AnchoredFiles::remove("tree", scratch / "hold"); }), (Failure{"remove mnt", EXDEV}));
    ASSERT_EQ(AnchoredFiles::moveToTrash("gift", scratch / "hold", scratch / "home", user.uid, user.gid), "gift");
    inGift.setPath(scratch / "home/.Trash/gift/mnt");
    EXPECT_EQ(FileTree::ownerOf(elsewhere + "/kept"), (Owner{0, 0}));
    EXPECT_EQ(FileTree::ownerOf(scratch / "home/.Trash/gift/file"), user);
}

TEST_F(AnchoredMountTest, FailuresOnAReadOnlyVolume) {
    Mount mount(scratch / "volume");
    FileTree::makeFolder(scratch / "volume/home", user, 0750);
    FileTree::makeFile(scratch / "volume/file");
    FileTree::makeFolder(scratch / "volume/empty");
    FileTree::makeFile(scratch / "volume/tree/only");
    mount.makeReadOnly();

    EXPECT_EQ(failureOf([&] { AnchoredFiles::openTrash(scratch / "volume/home", user.uid, user.gid); }),
              (Failure{"create .Trash", EROFS}));
    EXPECT_EQ(failureOf([&] { AnchoredFiles::remove("file", scratch / "volume"); }), (Failure{"remove file", EROFS}));
    EXPECT_EQ(failureOf([&] { AnchoredFiles::remove("empty", scratch / "volume"); }),
              (Failure{"remove empty", EROFS}));
    EXPECT_EQ(failureOf([&] { AnchoredFiles::remove("tree", scratch / "volume"); }), (Failure{"remove only", EROFS}));
    EXPECT_EQ((Failure{"remove only", EROFS}.description()), std::string("remove only: ") + std::strerror(EROFS));
}

}  // namespace
