// Many clients at once, each with many requests in flight: every request is
// answered exactly once with the reply its kind calls for, every file ends up
// where that reply says, and afterwards the helper holds no more descriptors
// and threads than before, and about the same memory.
//
// SORVANE_LOAD_CLIENTS (default 32) and SORVANE_LOAD_REQUESTS (default 200
// per client) scale the run.
#include "support/FileTree.h"
#include "support/HelperProcess.h"
#include "support/SandboxUsers.h"
#include "support/WireClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

using namespace FileTree;
using namespace SandboxUsers;
using Wire::Selector;

namespace {

// What a client asks, and where each removed item must be once every reply is
// in: gone, or in the Trash (`trashCopy`) owned by the client.
struct ClientPlan {
    const User* user;
    std::vector<WireClient::Exchange> exchanges;
    std::vector<std::pair<std::string, std::string>> files;  // path, trashCopy ("" when deleted)
};

// Four kinds of request in turn, each with the reply it must get: those that
// touch shared state (files, the Trash, the motion sensor). The motion
// sensor's replies follow the connection's own state; this platform has no
// sensor to switch.
ClientPlan planFor(std::size_t client, std::size_t requests) {
    ClientPlan plan{client % 2 == 0 ? &ann : &bob, {}, {}};
    const std::string home = std::string("/Users/") + plan.user->name;
    bool motionOn = false;
    for (std::size_t k = 0; k < requests; ++k) {
        const uint64_t id = (uint64_t{client} << 32) | k;
        const std::size_t kind = k % 4, turn = k / 4;
        const std::string name = "load." + std::to_string(client) + "." + std::to_string(k);
        WireClient::Exchange exchange{{id, Selector::version, {}}, std::string("1.6")};
        if (kind == 1 || kind == 2) {
            // Found items (root's; with one not allowed and one missing when deleted) and chosen ones (the
            // user's), deleted or moved to the Trash.
            const bool chosen = kind == 2, toTrash = turn % 2 == 0;
            const std::string path = chosen ? home + "/Desktop/" + name : "/Library/Caches/" + name;
            const Owner owner = chosen ? Owner{plan.user->uid, plan.user->gid} : Owner{};
            makeFolder(path, owner);
            makeFolder(path + "/sub", owner);
            makeFile(path + "/sub/b", "b", owner);
            std::vector<std::string> paths{path};
            Wire::TextDictionary failures;
            if (!chosen && !toTrash) {
                paths.insert(paths.end(), {"/System/Library/CoreServices", path + ".missing"});
                failures = {{"/System/Library/CoreServices", "Path is not allowed"},
                            {path + ".missing", "stat " + name + ".missing: " + systemMessage(ENOENT)}};
            }
            exchange = {{id, chosen ? Selector::removeChosenItems : Selector::removeItems, {paths, toTrash}}, failures};
            plan.files.emplace_back(path, toTrash ? home + "/.Trash/" + name : "");
        } else if (kind == 3) {
            const bool enable = turn % 3 != 2;
            exchange = {{id, Selector::setMotionSensor, {enable}}, enable == motionOn};  // no change, or none switched
            motionOn = enable;
        }
        plan.exchanges.push_back(std::move(exchange));
    }
    return plan;
}

TEST(Load, ManyClientsWithManyRequestsEachAreAllAnsweredOnceAndLeaveNothingBehind) {
    const std::size_t clients = WireClient::fromEnvironment("SORVANE_LOAD_CLIENTS", 32);
    const std::size_t requests = WireClient::fromEnvironment("SORVANE_LOAD_REQUESTS", 200);
    const pid_t helper = helperPid();
    ASSERT_GT(helper, 0);
    makeFolder("/System/Library/CoreServices");

    // One client of each user first, so that what the helper builds once
    // (tables, the user database) is there before the count.
    for (std::size_t client = clients; client < clients + 2; ++client) {
        const ClientPlan warmUp = planFor(client, 4);
        ASSERT_TRUE(WireClient::runAs(*warmUp.user, warmUp.exchanges, 4));
    }
    const HelperProcess::Resources before = HelperProcess::settled(helper, std::nullopt);

    std::vector<ClientPlan> plans;
    for (std::size_t client = 0; client < clients; ++client) plans.push_back(planFor(client, requests));
    const auto started = std::chrono::steady_clock::now();
    std::vector<pid_t> children;
    for (const auto& plan : plans) children.push_back(WireClient::startAs(*plan.user, plan.exchanges, 16));
    std::size_t failedClients = 0;
    for (const pid_t child : children) failedClients += !WireClient::finish(child);
    const std::chrono::duration<double> served = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(failedClients, 0u);

    for (const auto& plan : plans) {
        for (const auto& [path, trashCopy] : plan.files) {
            EXPECT_FALSE(exists(path)) << path;
            if (!trashCopy.empty()) {
                EXPECT_EQ(ownerOf(trashCopy + "/sub/b"), (Owner{plan.user->uid, 20})) << trashCopy;
            }
        }
    }

    const HelperProcess::Resources after = HelperProcess::settled(helper, before);
    EXPECT_EQ(after.descriptors, before.descriptors);
    EXPECT_EQ(after.threads, before.threads);
    EXPECT_LE(after.residentKiB, before.residentKiB + HelperProcess::residentToleranceKiB(before))
        << "before " << before.residentKiB << " KiB, after " << after.residentKiB << " KiB";
    std::printf("load: %zu clients x %zu requests served in %.1f s; helper RSS %ld -> %ld KiB\n", clients, requests,
                served.count(), before.residentKiB, after.residentKiB);
}

}  // namespace
