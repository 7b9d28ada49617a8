// Anchored operations meeting other file systems: each test mounts its own
// (this program runs in a private mount namespace of its own).
#include "shared/AnchoredFiles.h"
#include "support/FileTree.h"
#include "support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <sys/mount.h>

#include <cerrno>
#include <cstring>

namespace {

using AnchoredFiles::Failure;
using FileTree::failureOf;

constexpr FileTree::Owner user{501, 20};

// A tmpfs, or a bind mount of `bound` when given, mounted for the life of the
// object (detached wherever it has moved to).
class Mount {
public:
    explicit Mount(const std::string& at, const std::string& bound = "") : path(at) {
        FileTree::makeFolder(at);
        mounted = bound.empty() ? ::mount("tmpfs", at.c_str(), "tmpfs", 0, "size=16m,mode=0755") == 0
                                : ::mount(bound.c_str(), at.c_str(), nullptr, MS_BIND, nullptr) == 0;
        EXPECT_TRUE(mounted) << "mount " << at << ": " << std::strerror(errno);
    }
    ~Mount() { EXPECT_TRUE(!mounted || ::umount2(path.c_str(), MNT_DETACH) == 0) << std::strerror(errno); }
    std::string path;
    bool mounted = false;
};

class AnchoredMountTest : public ::testing::Test {
protected:
    void SetUp() override { descriptorsBefore = openDescriptorCount(); }
    void TearDown() override { EXPECT_EQ(openDescriptorCount(), descriptorsBefore) << "a descriptor leaked"; }

    ScratchFolder scratch;
    int descriptorsBefore = 0;
};

// A bind mount has the device of its surroundings, and is a mount point all
// the same: neither removal nor the hand-over enters it (nor one of another
// file system: the device is compared as well).
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
    inGift.path = scratch / "home/.Trash/gift/mnt";
    EXPECT_EQ(FileTree::ownerOf(elsewhere + "/kept"), FileTree::Owner{});
    EXPECT_EQ(FileTree::ownerOf(scratch / "home/.Trash/gift/file"), user);
}

TEST_F(AnchoredMountTest, FailuresAcrossAndOnAnotherVolume) {
    FileTree::makeFolder(scratch / "home", user, 0750);
    Mount mount(scratch / "volume");
    FileTree::makeFolder(scratch / "volume/home", user, 0750);
    for (const char* file : {"file", "tree/only", "item"}) FileTree::makeFile(scratch / "volume/" + file);
    FileTree::makeFolder(scratch / "volume/empty");
    const auto move = [&] { AnchoredFiles::moveToTrash("item", scratch / "volume", scratch / "home", 501, 20); };
    EXPECT_EQ(failureOf(move), (Failure{"move item", EXDEV}));
    EXPECT_TRUE(FileTree::exists(scratch / "volume/item"));

    ASSERT_EQ(::mount(nullptr, mount.path.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0)
        << std::strerror(errno);
    EXPECT_EQ(failureOf([&] { AnchoredFiles::openTrash(scratch / "volume/home", user.uid, user.gid); }),
              (Failure{"create .Trash", EROFS}));
    for (const auto& [name, failed] : {std::pair{"file", "file"}, {"empty", "empty"}, {"tree", "only"}})
        EXPECT_EQ(failureOf([&, &name = name] { AnchoredFiles::remove(name, scratch / "volume"); }),
                  (Failure{"remove " + std::string(failed), EROFS}));
}

}  // namespace
