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
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace {

using FileTree::Owner;

constexpr int removalRounds = 2000;
constexpr int trashRounds = 1000;
constexpr Owner attackerUser{501, 20};

// Paths the attacker swaps, pairwise, with renameat2(RENAME_EXCHANGE).
using Swaps = std::vector<std::pair<std::string, std::string>>;

// Runs `swaps` over and over, as the attacker's user, between resume() and
// pause(). Only this thread changes its credentials (the raw system calls,
// unlike the library's, act on the calling thread alone).
class Attacker {
public:
    explicit Attacker(Swaps swaps) : swaps_(std::move(swaps)), thread_([this] { run(); }) {}
    ~Attacker() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
            running_ = false;
        }
        changed_.notify_all();
        thread_.join();
    }

    // Returns once the attacker is at work, or has failed to drop root.
    bool resume() {
        const long before = exchanges_.load();
        {
            std::lock_guard lock(mutex_);
            running_ = true;
            idle_ = false;
        }
        changed_.notify_all();
        while (exchanges_.load() < before + 2 && !failedToDrop_.load()) std::this_thread::yield();
        return !failedToDrop_.load();
    }

    // Returns once the attacker has stopped between two swaps.
    void pause() {
        std::unique_lock lock(mutex_);
        running_ = false;
        changed_.wait(lock, [this] { return idle_; });
    }

private:
    void run() {
        const bool dropped = ::syscall(SYS_setgroups, 0, nullptr) == 0 &&
                             ::syscall(SYS_setresgid, attackerUser.gid, attackerUser.gid, attackerUser.gid) == 0 &&
                             ::syscall(SYS_setresuid, attackerUser.uid, attackerUser.uid, attackerUser.uid) == 0;
        if (!dropped) failedToDrop_ = true;
        size_t step = 0;
        for (;;) {
            {
                std::unique_lock lock(mutex_);
                idle_ = true;
                changed_.notify_all();
                changed_.wait(lock, [this] { return running_.load() || stop_; });
                if (stop_) return;
            }
            while (dropped && running_.load(std::memory_order_relaxed)) {
                // Each pair is swapped twice in a row: out, and back again.
                const auto& [a, b] = swaps_[(step++ / 2) % swaps_.size()];
                ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE);
                exchanges_.fetch_add(1, std::memory_order_relaxed);
            }
        }
    }

    const Swaps swaps_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::atomic<bool> running_{false};
    bool idle_ = false;
    bool stop_ = false;
    std::atomic<bool> failedToDrop_{false};
    std::atomic<long> exchanges_{0};
    std::thread thread_;
};

// A memory file system keeps the many small rounds quick where there is one.
std::string racePlace() {
    struct stat st {};
    return ::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && ::access("/dev/shm", W_OK) == 0
               ? "/dev/shm"
               : std::filesystem::temp_directory_path().string();
}

class AnchoredRaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "the race needs root to play both sides";
        ASSERT_EQ(::chmod(scratch.path().c_str(), 0755), 0);
        // Canaries: root's trees that the attacker can point links at but not change.
        FileTree::makeFile(scratch / "canary/c0", "canary");
        FileTree::makeFile(scratch / "canary/c1", "canary");
        FileTree::makeFile(scratch / "canary/deep/c2", "canary");
        FileTree::makeFile(scratch / "canaryHold/item/c3", "canary");
        FileTree::makeFile(scratch / "canaryHold/item/swap/c4", "canary");
        canaries = snapshots();
        descriptorsBefore = openDescriptorCount();
    }
    void TearDown() override {
        if (IsSkipped()) return;
        EXPECT_EQ(openDescriptorCount(), descriptorsBefore) << "a descriptor leaked";
    }

    std::pair<TreeSnapshot, TreeSnapshot> snapshots() const {
        return {snapshotOf(scratch / "canary"), snapshotOf(scratch / "canaryHold")};
    }

    // A fresh arena, all of it the attacker's but the `sealed` folder: the
    // holding folder with the item, the attacker's spare folder and links,
    // and a home folder with its Trash.
    std::string makeArena() const {
        const std::string arena = scratch / "arena";
        FileTree::removeAll(arena);
        FileTree::makeFolder(arena, attackerUser);
        FileTree::makeFolder(arena + "/hold", attackerUser);
        FileTree::makeFolder(arena + "/hold/item", attackerUser);
        for (const char* file : {"a", "z", "swap/s0", "swap/s1"})
            FileTree::makeFile(arena + "/hold/item/" + file, "", attackerUser);
        FileTree::makeFolder(arena + "/hold/item/swap", attackerUser);
        FileTree::makeFile(arena + "/hold/item/sealed/r0");
        FileTree::makeFile(arena + "/hold/item/sealed/r1");
        FileTree::makeFolder(arena + "/outside", attackerUser);
        FileTree::makeFile(arena + "/outside/decoy/d0", "", attackerUser);
        FileTree::makeFolder(arena + "/outside/decoy", attackerUser);
        FileTree::makeSymlink(scratch / "canary", arena + "/outside/link");
        FileTree::makeSymlink(scratch / "canaryHold", arena + "/holdLink");
        EXPECT_EQ(::link((scratch / "canary/c0").c_str(), (arena + "/outside/hard").c_str()), 0);
        FileTree::makeFolder(arena + "/home", attackerUser, 0750);
        FileTree::makeFolder(arena + "/home/.Trash", attackerUser, 0700);
        FileTree::makeSymlink(scratch / "canary", arena + "/home/trashLink");
        for (const char* link : {"/outside/link", "/holdLink", "/home/trashLink"})
            EXPECT_EQ(::lchown((arena + link).c_str(), attackerUser.uid, attackerUser.gid), 0);
        return arena;
    }

    ScratchFolder scratch{racePlace()};
    std::pair<TreeSnapshot, TreeSnapshot> canaries;
    int descriptorsBefore = 0;
};

std::string outcomeOf(const std::function<void()>& operation) {
    const auto failure = FileTree::failureOf(operation);
    return failure ? failure->operation + " (" + std::to_string(failure->code) + ")" : "done";
}

void print(const char* what, const std::map<std::string, int>& outcomes) {
    std::printf("%s outcomes:\n", what);
    for (const auto& [outcome, count] : outcomes) std::printf("  %6d  %s\n", count, outcome.c_str());
}

TEST_F(AnchoredRaceTest, RemovalNeverReachesOutsideTheTree) {
    std::map<std::string, int> outcomes;
    int identityChecks = 0;
    const std::string arena = scratch / "arena";
    // Half of the swaps trade the folder for another real folder: those are
    // the ones that the identity check after each open has to catch.
    Attacker attacker({{arena + "/hold/item/swap", arena + "/outside/decoy"},
                       {arena + "/hold/item/swap", arena + "/outside/link"},
                       {arena + "/hold/item/swap", arena + "/outside/decoy"},
                       {arena + "/hold", arena + "/holdLink"}});
    // Where threads rarely run side by side, more rounds are spent (up to a
    // limit) until a swap has fallen between inspection and open.
    for (int round = 0; round < removalRounds || (identityChecks == 0 && round < 4 * removalRounds); ++round) {
        makeArena();
        ASSERT_TRUE(attacker.resume());
        const auto failure = FileTree::failureOf([&] { AnchoredFiles::remove("item", arena + "/hold"); });
        const std::string outcome = failure ? failure->operation + " (" + std::to_string(failure->code) + ")" : "done";
        identityChecks += failure && failure->code == EAGAIN;
        attacker.pause();
        ++outcomes[outcome];
        ASSERT_EQ(snapshots(), canaries) << "round " << round << " ended with " << outcome;
    }
    print("removal", outcomes);
    EXPECT_GT(outcomes["done"], 0);
    EXPECT_GT(identityChecks, 0) << "the swap never fell between inspection and open";
}

TEST_F(AnchoredRaceTest, MoveToTrashNeverHandsOverAnythingOutsideTheItem) {
    std::map<std::string, int> outcomes;
    const std::string arena = scratch / "arena";
    Attacker attacker({{arena + "/hold/item/swap", arena + "/outside/link"},
                       {arena + "/hold/item/a", arena + "/outside/hard"},
                       {arena + "/hold/item/swap", arena + "/outside/decoy"},
                       {arena + "/hold", arena + "/holdLink"},
                       {arena + "/home/.Trash", arena + "/home/trashLink"}});
    for (int round = 0; round < trashRounds; ++round) {
        makeArena();
        ASSERT_TRUE(attacker.resume());
        const std::string outcome = outcomeOf([&] {
            AnchoredFiles::moveToTrash("item", arena + "/hold", arena + "/home", attackerUser.uid, attackerUser.gid);
        });
        attacker.pause();
        ++outcomes[outcome];
        ASSERT_EQ(snapshots(), canaries) << "round " << round << " ended with " << outcome;
    }
    print("move to Trash", outcomes);
    EXPECT_GT(outcomes["done"], 0);
}

}  // namespace
