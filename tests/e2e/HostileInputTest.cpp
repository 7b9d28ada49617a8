// Whatever a client sends, the helper stays up and keeps serving everyone else:
// a malformed frame or message drops only the connection that sent it, with
// nothing of that message done, and arguments of the wrong type are taken as
// absent. The codec's own cases are
// tested on the codec; here, the running helper.
#include "platform/transport/FrameStream.h"
#include "support/FileTree.h"
#include "support/SandboxUsers.h"
#include "support/WireClient.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>

#include <thread>

using namespace FileTree;
using namespace SandboxUsers;
using nlohmann::json;

namespace {

std::string header(uint32_t length) {
    return {static_cast<char>(length >> 24), static_cast<char>(length >> 16), static_cast<char>(length >> 8),
            static_cast<char>(length)};
}

json request(uint64_t id, const char* selector, json arguments) {
    return {{"id", id}, {"selector", selector}, {"arguments", std::move(arguments)}};
}

const std::string version = WireClient::frameOf(request(1, "versionWithReply:", json::array()));

// Whether a fresh connection is served.
bool served() {
    UniqueFd fd = WireClient::connect();
    return fd && FrameStream::writeAll(fd.get(), version) && WireClient::nextReply(fd.get()).has_value();
}

TEST(HostileInput, MalformedFramesAndMessagesDropOnlyTheirConnection) {
    const std::string kept = "/Library/Caches/com.example.Mixed";
    const std::pair<const char*, std::string> cases[] = {
        {"text that is no frame", "GET / HTTP/1.1\r\nHost: helper\r\n\r\n"},
        {"a text id", WireClient::frameOf({{"id", "7"}, {"selector", "versionWithReply:"}, {"arguments", json::array()}})},
        {"too many arguments", WireClient::frameOf(request(7, "versionWithReply:", json::array({"extra"})))},
        {"a frame cut short", header(200) + std::string(50, 'x')},
        {"a path list holding other values",
         WireClient::frameOf(request(7, "removeItemsAtPaths:toTrash:reply:", json::array({json::array({kept, 17}), false})))},
    };
    makeFile(kept, "x");
    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        UniqueFd hostile = WireClient::connect();
        ASSERT_TRUE(hostile && FrameStream::writeAll(hostile.get(), bytes));
        ::shutdown(hostile.get(), SHUT_WR);
        EXPECT_TRUE(WireClient::closedWithoutReply(hostile.get()));
        EXPECT_TRUE(served());
    }
    EXPECT_TRUE(exists(kept));
    removeAll(kept);
}

TEST(HostileInput, ArgumentsOfTheWrongTypeAreTakenAsAbsent) {
    const std::string item = "/Library/Caches/com.example.Typed";
    // The client runs as root, who has no Trash: a removal that tries the
    // Trash answers so, which shows how the flag was read.
    const std::string noTrash = "The Trash of this user was not found", other = item + ".other";
    const std::pair<json, Wire::ReplyValue> cases[] = {
        {request(1, "removeItemsAtPaths:toTrash:reply:", json::array({item, false})), Wire::TextDictionary{}},
        {request(2, "removeItemsAtPaths:toTrash:reply:", json::array({json{{"$data", item}}, false})), Wire::TextDictionary{}},
        {request(3, "removeItemsAtPaths:toTrash:reply:", json::array({json::array({item}), 2})),
         Wire::TextDictionary{{item, noTrash}}},
        // A text is no truth value: the one request here that deletes.
        {request(4, "removeItemsAtPaths:toTrash:reply:", json::array({json::array({other}), "yes"})),
         Wire::TextDictionary{}},
        {request(6, "resetPrivacyPermissionWithService:bundleID:reply:", json::array({5, true})),
         std::string("Permission reset is not allowed")},
        {request(7, "unloadLaunchDaemonWithLabel:plistPath:toTrash:reply:", json::array({1, json::array(), "yes"})),
         std::string("Launch job is not allowed")},
        {request(8, "setLaunchJobWithLabel:plistPath:enabled:reply:", json::array({json::object()})),
         std::string("Launch job is not allowed")},
        // A text is no truth value: switching off what was never on changes nothing.
        {request(9, "setMotionSensorWithEnabled:reply:", json::array({"on"})), true},
    };
    makeFile(item, "x");
    makeFile(other, "x");
    UniqueFd client = WireClient::connect();
    ASSERT_TRUE(client);
    for (const auto& [message, reply] : cases) {
        SCOPED_TRACE(message.dump());
        ASSERT_TRUE(FrameStream::writeAll(client.get(), WireClient::frameOf(message)));
        const auto received = WireClient::nextReply(client.get());
        ASSERT_TRUE(received);
        EXPECT_EQ(received->id, message["id"]);
        EXPECT_EQ(received->value, reply) << WireClient::describe(received->value);
    }
    EXPECT_TRUE(exists(item));
    EXPECT_FALSE(exists(other));
    removeAll(item);
    EXPECT_FALSE(WireClient::nextReply(client.get(), std::chrono::milliseconds(100))) << "a second answer to one request";
}

TEST(HostileInput, ManyHostileClientsAtOnceLeaveTheHelperServing) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 40; ++i) {
                UniqueFd hostile = WireClient::connect();
                const std::string bytes[] = {header(0xFFFFFFFF), header(1000) + "short",
                                             WireClient::frameOf(json::array({"x"})), ""};
                FrameStream::writeAll(hostile.get(), bytes[(t + i) % 4]);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    // The flood is this user's own: its connections count against the user's
    // limit until the helper has seen them close.
    bool answered = false;
    for (int attempt = 0; attempt < 50 && !answered; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        answered = served();
    }
    EXPECT_TRUE(answered);
    EXPECT_EQ(::kill(helperPid(), 0), 0);
}

}  // namespace
