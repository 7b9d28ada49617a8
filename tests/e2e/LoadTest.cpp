// Many clients at once, each with many requests in flight: every request is
// answered exactly once with the reply its kind calls for, every file ends up
// where that reply says, and afterwards the helper holds no more descriptors
// and threads than before, and about the same memory.
//
// SORVANE_LOAD_CLIENTS (default 64) and SORVANE_LOAD_REQUESTS (default 1000
// per client) scale the run.

#include "platform/transport/FrameStream.h"
#include "support/FileTree.h"
#include "support/HelperProcess.h"
#include "support/SandboxUsers.h"
#include "support/WireClient.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace FileTree;
using namespace SandboxUsers;

namespace {

using Wire::Selector;

Wire::TextDictionary noFailures() { return {}; }

// A small real tree: a folder holding a file and a folder with a file.
void makeSmallTree(const std::string& root, FileTree::Owner owner) {
    makeFolder(root, owner);
    makeFile(root + "/a", "a", owner);
    makeFolder(root + "/sub", owner);
    makeFile(root + "/sub/b", "b", owner);
}

// What must hold of the file system once every reply is in.
struct FileOutcome {
    std::string path;
    enum { gone, inTrash } expected;
    std::string trashCopy;  // for inTrash: where the item lies now
    uid_t owner = 0;        // for inTrash: who owns it there
};

struct ClientPlan {
    const User* user;
    std::vector<WireClient::Exchange> exchanges;
    std::vector<FileOutcome> files;
};

const User& userOf(std::size_t client) { return client % 2 == 0 ? ann : bob; }

std::string homeOf(const User& user) { return std::string("/Users/") + user.name; }

// Ten kinds of request in turn; the reply each must get, and the files it
// must leave as they are, move or remove. The motion sensor's replies follow
// the connection's own state; this platform has no sensor to switch.
ClientPlan planFor(std::size_t client, std::size_t requests) {
    ClientPlan plan{&userOf(client), {}, {}};
    const User& user = *plan.user;
    const FileTree::Owner owner{user.uid, user.gid};
    bool motionOn = false;
    for (std::size_t k = 0; k < requests; ++k) {
        const uint64_t id = (uint64_t{client} << 32) | k;
        const std::string tag = std::to_string(client) + "." + std::to_string(k);
        const std::string cached = "/Library/Caches/com.example.load." + tag;
        WireClient::Exchange exchange{{id, Selector::version, {}}, std::string("1.6")};
        switch (k % 10) {
        case 0:
            break;
        case 1:
            makeSmallTree(cached, {});
            exchange.request = {id, Selector::removeItems, {std::vector<std::string>{cached}, false}};
            exchange.expected = noFailures();
            plan.files.push_back({cached, FileOutcome::gone, {}, 0});
            break;
        case 2:
            makeSmallTree(cached, {});
            exchange.request = {id, Selector::removeItems, {std::vector<std::string>{cached}, true}};
            exchange.expected = noFailures();
            plan.files.push_back({cached, FileOutcome::inTrash, homeOf(user) + "/.Trash/com.example.load." + tag, user.uid});
            break;
        case 3:
        case 4: {
            const bool toTrash = k % 10 == 4;
            const std::string chosen = homeOf(user) + (toTrash ? "/Desktop/load." : "/Downloads/load.") + tag;
            makeSmallTree(chosen, owner);
            exchange.request = {id, Selector::removeChosenItems, {std::vector<std::string>{chosen}, toTrash}};
            exchange.expected = noFailures();
            if (toTrash)
                plan.files.push_back({chosen, FileOutcome::inTrash, homeOf(user) + "/.Trash/load." + tag, user.uid});
            else
                plan.files.push_back({chosen, FileOutcome::gone, {}, 0});
            break;
        }
        case 5:
        case 9: {
            const bool enable = k % 10 == 5 ? (k / 10) % 3 != 2 : (k / 10) % 2 == 0;
            exchange.request = {id, Selector::setMotionSensor, {enable}};
            exchange.expected = enable == motionOn;  // nothing to change, or no sensor switched
            motionOn = enable;
            break;
        }
        case 6:
            // One reset in twenty runs the tool (which answers success); the
            // others are refused. The fake tool is a script, whose start-up
            // would otherwise dominate the run.
            if ((k / 10) % 20 == 0) {
                exchange.request = {id, Selector::resetPrivacyPermission, {std::string("Camera"), std::string("com.example.load")}};
                exchange.expected = std::monostate{};
            } else {
                exchange.request = {id, Selector::resetPrivacyPermission, {std::string("Camera"), std::string("com.apple.Safari")}};
                exchange.expected = std::string("Permission reset is not allowed");
            }
            break;
        case 7:
            // Jobs that no rule allows: an Apple label, a plist outside the launch folders.
            if ((k / 10) % 2 == 0)
                exchange.request = {id, Selector::setLaunchJob, {std::string("com.apple.load"), std::string("/Library/LaunchAgents/com.apple.load.plist"), true}};
            else
                exchange.request = {id, Selector::unloadLaunchDaemon, {std::string("com.example.load"), homeOf(user) + "/load.plist", false}};
            exchange.expected = std::string("Launch job is not allowed");
            break;
        case 8: {
            const std::string missing = cached + ".missing";
            exchange.request = {id, Selector::removeItems, {std::vector<std::string>{"/System/Library/CoreServices", missing, "relative/path"}, false}};
            exchange.expected = Wire::TextDictionary{
                {"/System/Library/CoreServices", "Path is not allowed"},
                {missing, "stat com.example.load." + tag + ".missing: " + systemMessage(ENOENT)},
                {"relative/path", "Path is not allowed"},
            };
            break;
        }
        }
        plan.exchanges.push_back(std::move(exchange));
    }
    return plan;
}

TEST(Load, ManyClientsWithManyRequestsEachAreAllAnsweredOnceAndLeaveNothingBehind) {
    const std::size_t clients = WireClient::fromEnvironment("SORVANE_LOAD_CLIENTS", 64);
    const std::size_t requests = WireClient::fromEnvironment("SORVANE_LOAD_REQUESTS", 1000);
    const pid_t helper = helperPid();
    ASSERT_GT(helper, 0);
    makeFolder("/System/Library/CoreServices");

    // One client of each user first, so that what the helper builds once
    // (tables, the user database) is there before the count.
    std::vector<ClientPlan> warmUp;
    for (std::size_t client = clients; client < clients + 2; ++client) warmUp.push_back(planFor(client, 10));
    for (const auto& plan : warmUp) ASSERT_TRUE(WireClient::runAs(*plan.user, plan.exchanges, 4));
    const HelperProcess::Resources before = HelperProcess::settled(helper, std::nullopt);

    std::vector<ClientPlan> plans;
    for (std::size_t client = 0; client < clients; ++client) plans.push_back(planFor(client, requests));
    const auto started = std::chrono::steady_clock::now();

    std::vector<pid_t> children;
    for (const auto& plan : plans) children.push_back(WireClient::startAs(*plan.user, plan.exchanges, 16));
    std::size_t failedClients = 0;
    for (const pid_t child : children) failedClients += !WireClient::finish(child);
    const auto served = std::chrono::steady_clock::now();
    EXPECT_EQ(failedClients, 0u);

    for (const auto& plan : plans) {
        for (const auto& file : plan.files) {
            switch (file.expected) {
            case FileOutcome::gone:
                EXPECT_FALSE(exists(file.path)) << file.path;
                break;
            case FileOutcome::inTrash:
                EXPECT_FALSE(exists(file.path)) << file.path;
                EXPECT_TRUE(exists(file.trashCopy + "/sub/b")) << file.trashCopy;
                EXPECT_EQ(ownerOf(file.trashCopy + "/sub/b"), (Owner{file.owner, 20})) << file.trashCopy;
                break;
            }
        }
    }

    const HelperProcess::Resources after = HelperProcess::settled(helper, before);
    EXPECT_EQ(after.descriptors, before.descriptors);
    EXPECT_EQ(after.threads, before.threads);
    EXPECT_LE(after.residentKiB, before.residentKiB + HelperProcess::residentToleranceKiB(before))
        << "before " << before.residentKiB << " KiB, after " << after.residentKiB << " KiB";

    std::printf("load: %zu clients x %zu requests served in %.1f s; helper RSS %ld -> %ld KiB\n", clients, requests,
                std::chrono::duration<double>(served - started).count(), before.residentKiB, after.residentKiB);
}

// One connection's long removal does not hold up the requests of another.
TEST(Load, ALongRemovalOnOneConnectionDoesNotDelayAnother) {
    const std::string big = "/Library/Caches/com.example.Big";
    makeWideTree(big, 1000, 150);
    UniqueFd remover = WireClient::connect();
    ASSERT_TRUE(remover);
    ASSERT_TRUE(FrameStream::writeAll(remover.get(),
                                      Wire::encodeRequest({1, Selector::removeItems, {std::vector<std::string>{big}, false}})));
    EXPECT_TRUE(WireClient::runAs(ann, {{{2, Selector::version, {}}, std::string("1.6")}}, 1));
    // The removal of 150,000 entries is still running when the version reply is in.
    EXPECT_FALSE(WireClient::nextReply(remover.get(), std::chrono::milliseconds(0))) << "the version reply waited";
    const auto removed = WireClient::nextReply(remover.get(), std::chrono::seconds(120));
    ASSERT_TRUE(removed);
    EXPECT_EQ(removed->value, Wire::ReplyValue(Wire::TextDictionary{}));
    EXPECT_FALSE(exists(big));
}

}  // namespace
