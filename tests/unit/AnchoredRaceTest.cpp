// An unprivileged attacker keeps rearranging what it owns while the anchored
// operations run as root: it swaps a folder inside the tree with a symbolic
// link to a canary tree and with a folder of its own, swaps the holding folder
// itself (and the Trash) with links to canaries, and slips a hard link to a
// canary file into the tree. The canaries must never lose an entry or change.
#include "shared/AnchoredFiles.h"
#include "support/FileTree.h"
#include "support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr FileTree::Owner attacker{501, 20};

// Paths the attacker swaps, pairwise, with renameat2(RENAME_EXCHANGE).
using Swaps = std::vector<std::pair<std::string, std::string>>;

class AnchoredRaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "the race needs root to play both sides";
        ASSERT_EQ(::chmod(scratch.path().c_str(), 0755), 0);
        // Canaries: root's trees that the attacker can point links at but not change.
        for (const char* file : {"canary/c0", "canary/deep/c1", "canary/hold/item/c2", "canary/hold/item/swap/c3"})
            FileTree::makeFile(scratch / file, "canary");
        canaries = snapshotOf(scratch / "canary");
        descriptorsBefore = openDescriptorCount();
    }
    void TearDown() override { EXPECT_TRUE(IsSkipped() || openDescriptorCount() == descriptorsBefore) << "leaked"; }

    // A fresh arena, all of it the attacker's but the `sealed` folder: the
    // holding folder with the item, the attacker's spare folder and links,
    // and a home folder with its Trash.
    void makeArena() const {
        FileTree::removeAll(arena);
        for (const char* folder : {"", "/hold", "/hold/item", "/hold/item/swap", "/outside", "/outside/decoy", "/home"})
            FileTree::makeFolder(arena + folder, attacker, 0750);
        FileTree::makeFolder(arena + "/home/.Trash", attacker, 0700);
        for (const char* file : {"a", "z", "swap/s0", "swap/s1"})
            FileTree::makeFile(arena + "/hold/item/" + file, "", attacker);
        FileTree::makeFile(arena + "/hold/item/sealed/r0");
        EXPECT_EQ(::link((scratch / "canary/c0").c_str(), (arena + "/outside/hard").c_str()), 0);
        for (const auto& [target, link] :
             {std::pair{"canary", "/outside/link"}, {"canary/hold", "/holdLink"}, {"canary", "/home/trashLink"}}) {
            FileTree::makeSymlink(scratch / target, arena + link);
            EXPECT_EQ(::lchown((arena + link).c_str(), attacker.uid, attacker.gid), 0);
        }
    }

    // Runs the operation while the attacker swaps, `rounds` times (up to four
    // times as many until it has once failed with `awaited`); returns how many
    // rounds it completed and how many failed with `awaited`. Only the
    // attacker's thread drops root: the raw system calls, unlike the
    // library's, act on the calling thread alone.
    std::pair<int, int> race(const Swaps& swaps, int rounds, const std::function<void()>& operation, int awaited = 0) {
        int done = 0, caught = 0;
        for (int round = 0; round < rounds || (caught == 0 && awaited != 0 && round < 4 * rounds); ++round) {
            makeArena();
            std::atomic<long> exchanges{0};
            std::atomic<bool> dropped{true};
            std::jthread attacking([&](std::stop_token stop) {
                dropped = ::syscall(SYS_setgroups, 0, nullptr) == 0 &&
                          ::syscall(SYS_setresgid, attacker.gid, attacker.gid, attacker.gid) == 0 &&
                          ::syscall(SYS_setresuid, attacker.uid, attacker.uid, attacker.uid) == 0;
                // Each pair is swapped twice in a row: out, and back again.
                for (size_t step = 0; dropped && !stop.stop_requested(); ++step, ++exchanges) {
                    const auto& [a, b] = swaps[(step / 2) % swaps.size()];
                    ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE);
                }
            });
            while (exchanges < 2 && dropped) std::this_thread::yield();
            const auto failure = dropped ? FileTree::failureOf(operation) : std::nullopt;
            attacking.request_stop();
            attacking.join();
            if (!dropped) ADD_FAILURE() << "the attacker could not drop root";
            done += !failure;
            caught += failure && failure->code == awaited;
            if (snapshotOf(scratch / "canary") != canaries) ADD_FAILURE() << "round " << round << " reached a canary";
            if (HasFailure()) break;
        }
        return {done, caught};
    }

    ScratchFolder scratch{"/dev/shm"};  // many small rounds: a memory file system keeps them quick
    const std::string arena = scratch / "arena";
    TreeSnapshot canaries;
    int descriptorsBefore = 0;
};

// Half of the swaps trade the folder for another real folder: those are the
// ones that the identity check after each open has to catch.
TEST_F(AnchoredRaceTest, RemovalNeverReachesOutsideTheTree) {
    const std::string swap = arena + "/hold/item/swap", decoy = arena + "/outside/decoy";
    const Swaps swaps = {
        {swap, decoy}, {swap, arena + "/outside/link"}, {swap, decoy}, {arena + "/hold", arena + "/holdLink"}};
    const auto [done, caught] = race(
        swaps, 600, [&] { AnchoredFiles::remove("item", arena + "/hold"); }, EAGAIN);
    EXPECT_GT(done, 0);
    EXPECT_GT(caught, 0) << "the swap never fell between inspection and open";
}

TEST_F(AnchoredRaceTest, MoveToTrashNeverHandsOverAnythingOutsideTheItem) {
    const std::string swap = arena + "/hold/item/swap";
    const Swaps swaps = {{swap, arena + "/outside/link"},
                         {arena + "/hold/item/a", arena + "/outside/hard"},
                         {swap, arena + "/outside/decoy"},
                         {arena + "/hold", arena + "/holdLink"},
                         {arena + "/home/.Trash", arena + "/home/trashLink"}};
    const auto [done, caught] = race(swaps, 300, [&] {
        AnchoredFiles::moveToTrash("item", arena + "/hold", arena + "/home", attacker.uid, attacker.gid);
    });
    EXPECT_GT(done, 0);
}

}  // namespace
