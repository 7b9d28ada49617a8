// Requests that block do not hold up others, and many requests in flight on
// one connection are each answered once, under their own id.
#include "support/FileTree.h"
#include "support/RawClient.h"
#include "support/SandboxUsers.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

using namespace FileTree;
using namespace SandboxUsers;

namespace {

TEST(Concurrency, ALongRemovalOnOneConnectionDoesNotDelayVersionOnAnother) {
    const std::string big = "/Library/Caches/com.example.Big";
    makeWideTree(big, 1000, 150);

    RawClient remover;
    ASSERT_TRUE(remover.sendMessage(RawClient::request(1, "removeItemsAtPaths:toTrash:reply:", nlohmann::json::array({nlohmann::json::array({big}), false}))));
    RawClient asker;
    ASSERT_TRUE(asker.versionAnswered(2));
    // The removal of 150,000 entries is still running when the version reply is in.
    EXPECT_TRUE(remover.quietFor(std::chrono::milliseconds(0))) << "the version reply waited for the removal";

    const RawClient::Received removed = remover.receive(std::chrono::seconds(120));
    ASSERT_EQ(removed.status, RawClient::Status::reply);
    EXPECT_EQ(removed.message, (nlohmann::json{{"id", 1}, {"reply", nlohmann::json::object()}}));
    EXPECT_FALSE(exists(big));
}

TEST(Concurrency, ManyRequestsInFlightOnOneConnectionAreEachAnsweredOnceWithTheirId) {
    constexpr int count = 300;
    std::string bytes;
    std::map<uint64_t, nlohmann::json> expected;
    for (int i = 0; i < count; ++i) {
        const uint64_t id = (uint64_t{1} << 40) + static_cast<uint64_t>(i) * 7919;
        if (i % 3 == 0) {
            const std::string item = "/Library/Caches/com.example.inflight" + std::to_string(i);
            makeFile(item, "x");
            bytes += RawClient::frame(RawClient::binaryPlist(
                RawClient::request(id, "removeItemsAtPaths:toTrash:reply:", nlohmann::json::array({nlohmann::json::array({item, item + ".missing"}), false}))));
            expected[id] = {{item + ".missing", "stat com.example.inflight" + std::to_string(i) +
                                                    ".missing: " + systemMessage(ENOENT)}};
        } else {
            bytes += RawClient::frame(RawClient::binaryPlist(RawClient::request(id, "versionWithReply:", nlohmann::json::array())));
            expected[id] = "1.6";
        }
    }
    RawClient client;
    ASSERT_TRUE(client.sendBytes(bytes));
    client.closeWriting();  // served to the end of what was sent, then closed

    std::map<uint64_t, int> answers;
    for (;;) {
        const RawClient::Received received = client.receive(std::chrono::seconds(30));
        if (received.status != RawClient::Status::reply) {
            EXPECT_EQ(received.status, RawClient::Status::closed);
            break;
        }
        const uint64_t id = received.message.value("id", uint64_t{0});
        ++answers[id];
        ASSERT_TRUE(expected.contains(id)) << received.message.dump();
        EXPECT_EQ(received.message["reply"], expected[id]) << "id " << id;
    }
    EXPECT_EQ(answers.size(), expected.size());
    for (const auto& [id, times] : answers) EXPECT_EQ(times, 1) << "id " << id;
    for (int i = 0; i < count; i += 3) EXPECT_FALSE(exists("/Library/Caches/com.example.inflight" + std::to_string(i)));
}

TEST(Concurrency, ASessionAnswersEveryLineOnce) {
    constexpr int lines = 120;
    std::string input;
    for (int i = 1; i <= lines; ++i) {
        if (i % 4 == 0) {
            const std::string item = "/Users/ann/Desktop/session" + std::to_string(i);
            makeFile(item, "x", {501, 20});
            input += nlohmann::json{"remove-chosen", "--trash", item}.dump() + "\n";
        } else {
            input += "[\"version\"]\n";
        }
    }
    const ToolRun run = runAs(ann, sorvanectlPath, {"session"}, input);
    EXPECT_EQ(run.status, 0) << run.error;

    std::map<int, int> answered;
    std::istringstream output(run.output);
    std::string line;
    while (std::getline(output, line)) {
        const auto reply = nlohmann::json::parse(line, nullptr, false);
        ASSERT_TRUE(reply.is_object()) << line;
        const int number = reply.value("line", 0);
        ++answered[number];
        EXPECT_EQ(reply["reply"], number % 4 == 0 ? nlohmann::json::object() : nlohmann::json("1.6")) << line;
    }
    EXPECT_EQ(answered.size(), static_cast<std::size_t>(lines));
    for (const auto& [number, times] : answered) EXPECT_EQ(times, 1) << "line " << number;
    EXPECT_EQ(namesIn("/Users/ann/.Trash").size(), static_cast<std::size_t>(lines / 4));
}

}  // namespace
