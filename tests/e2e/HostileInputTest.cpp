// Whatever a client sends, the helper stays up and keeps serving everyone else:
// a malformed frame or message drops only the connection that sent it, with
// nothing of that message done, and arguments of the wrong type are taken as
// absent.
#include "support/FileTree.h"
#include "support/RawClient.h"
#include "support/SandboxUsers.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <functional>

#include <thread>

using namespace FileTree;
using namespace SandboxUsers;
using nlohmann::json;

namespace {

std::string header(uint32_t length) {
    return {static_cast<char>(length >> 24), static_cast<char>(length >> 16), static_cast<char>(length >> 8),
            static_cast<char>(length)};
}

std::string message(const json& value) { return RawClient::frame(RawClient::binaryPlist(value)); }

const json noArguments = json::array();

struct Dropped {
    const char* name;
    std::string bytes;
    bool halfClose = false;  // end the sending side after the bytes
};

TEST(HostileInput, MalformedFramesAndMessagesDropOnlyTheirConnection) {
    const std::string version = message(RawClient::request(1, "versionWithReply:", noArguments));
    const std::vector<Dropped> cases = {
        {"text that is no frame", "GET / HTTP/1.1\r\nHost: helper\r\n\r\n"},
        {"a 4 GiB length", header(0xFFFFFFFF) + std::string(64, 'x')},
        {"a length just above 16 MiB", header((16u << 20) + 1)},
        {"an empty body", header(0)},
        {"a body that is no property list", RawClient::frame("bplist00 but not really")},
        {"random bytes in a frame", RawClient::frame(std::string("\x00\xff\x13\x37\x80\x7f", 6))},
        {"a frame cut short", header(200) + std::string(50, 'x'), true},
        {"a header cut short", std::string("\x00\x00", 2), true},
        {"an XML property list", RawClient::frame(R"(<?xml version="1.0"?><plist version="1.0"><dict/></plist>)")},
        {"not a dictionary", message(json::array({1, 2, 3}))},
        {"a text as the message", message("versionWithReply:")},
        {"no id", message({{"selector", "versionWithReply:"}, {"arguments", noArguments}})},
        {"a text id", message({{"id", "7"}, {"selector", "versionWithReply:"}, {"arguments", noArguments}})},
        {"a boolean id", message({{"id", true}, {"selector", "versionWithReply:"}, {"arguments", noArguments}})},
        {"no selector", message({{"id", 7}, {"arguments", noArguments}})},
        {"an unknown selector", message(RawClient::request(7, "eraseEverythingWithReply:", noArguments))},
        {"a selector in another spelling", message(RawClient::request(7, "versionwithreply:", noArguments))},
        {"a selector without its colon", message(RawClient::request(7, "versionWithReply", noArguments))},
        {"an integer selector", message({{"id", 7}, {"selector", 3}, {"arguments", noArguments}})},
        {"no arguments", message({{"id", 7}, {"selector", "versionWithReply:"}})},
        {"arguments not an array", message({{"id", 7}, {"selector", "versionWithReply:"}, {"arguments", "none"}})},
        {"too many arguments for version", message(RawClient::request(7, "versionWithReply:", json::array({"extra"})))},
        {"too many arguments for a removal",
         message(RawClient::request(7, "removeItemsAtPaths:toTrash:reply:", json::array({json::array(), false, true})))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RawClient hostile;
        ASSERT_TRUE(hostile.sendBytes(c.bytes));
        if (c.halfClose) hostile.closeWriting();
        EXPECT_TRUE(hostile.closedWithoutReply());
        // What follows on a dropped connection is never served.
        hostile.sendBytes(version);
        EXPECT_NE(hostile.receive(std::chrono::milliseconds(200)).status, RawClient::Status::reply);

        RawClient bystander;
        EXPECT_TRUE(bystander.versionAnswered());
    }
    EXPECT_EQ(::kill(helperPid(), 0), 0);
}

TEST(HostileInput, RequestsBeforeAMalformedFrameAreAnsweredFirst) {
    RawClient client;
    ASSERT_TRUE(client.sendBytes(message(RawClient::request(1, "versionWithReply:", noArguments)) +
                                 message(RawClient::request(2, "versionWithReply:", noArguments)) +
                                 RawClient::frame("garbage")));
    for (uint64_t id : {1, 2}) {
        const RawClient::Received received = client.receive();
        ASSERT_EQ(received.status, RawClient::Status::reply);
        EXPECT_EQ(received.message, (json{{"id", id}, {"reply", "1.6"}}));
    }
    EXPECT_TRUE(client.closedWithoutReply());
}

struct Served {
    const char* name;
    json arguments;
    json expectedReply;
};

TEST(HostileInput, ArgumentsOfTheWrongTypeAreTakenAsAbsent) {
    const std::string item = "/Library/Caches/com.example.Typed";
    // The raw client runs as root, who has no Trash: a removal that tries the
    // Trash answers so, which shows how the flag was read.
    const std::string noTrash = "The Trash of this user was not found";
    const std::vector<Served> cases = {
        {"no arguments at all", json::array(), json::object()},
        {"a text for the path list", json::array({item, false}), json::object()},
        {"a number for the path list", json::array({42, true}), json::object()},
        {"a dictionary for the path list", json::array({json{{"path", item}}, false}), json::object()},
        {"data for the path list", json::array({json{{"$data", item}}, false}), json::object()},
        {"the flag missing", json::array({json::array({item})}), json::object()},
        {"an integer 2 as the flag", json::array({json::array({item}), 2}), json{{item, noTrash}}},
        {"an integer 0 as the flag", json::array({json::array({item}), 0}), json::object()},
        {"a text as the flag", json::array({json::array({item}), "yes"}), json::object()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        makeFile(item, "x");
        RawClient client;
        ASSERT_TRUE(client.sendMessage(RawClient::request(5, "removeItemsAtPaths:toTrash:reply:", c.arguments)));
        const RawClient::Received received = client.receive();
        ASSERT_EQ(received.status, RawClient::Status::reply);
        EXPECT_EQ(received.message, (json{{"id", 5}, {"reply", c.expectedReply}}));
        // Taken as absent, the path list is empty and the item stays; read as
        // a deletion of the item it is gone.
        const bool deleted = c.expectedReply.empty() && !c.arguments.empty() && c.arguments[0].is_array();
        EXPECT_EQ(exists(item), !deleted);
        EXPECT_TRUE(client.versionAnswered()) << "the connection keeps serving";
    }
    removeAll(item);
}

TEST(HostileInput, EveryOperationTakesArgumentsOfTheWrongTypeAsAbsent) {
    struct Case {
        const char* selector;
        json arguments;
        json reply;  // the whole reply message but its id; no "reply" key stands for a nil text
    };
    const std::vector<Case> cases = {
        {"versionWithReply:", json::array(), {{"reply", "1.6"}}},
        // Empty texts: refused before anything runs.
        {"resetPrivacyPermissionWithService:bundleID:reply:", json::array({5, true}),
         {{"reply", "Permission reset is not allowed"}}},
        {"resetPrivacyPermissionWithService:bundleID:reply:", json::array(), {{"reply", "Permission reset is not allowed"}}},
        {"unloadLaunchDaemonWithLabel:plistPath:toTrash:reply:", json::array({1, json::array(), "yes"}),
         {{"reply", "Launch job is not allowed"}}},
        {"setLaunchJobWithLabel:plistPath:enabled:reply:", json::array({json::object(), json::array({"x"})}),
         {{"reply", "Launch job is not allowed"}}},
        // A text is no truth value: switching off what this connection never switched on changes nothing.
        {"setMotionSensorWithEnabled:reply:", json::array({"on"}), {{"reply", true}}},
        // A reset the tool carried out replies with a nil text: no "reply" key at all.
        {"resetPrivacyPermissionWithService:bundleID:reply:", json::array({"Camera", "com.example.app"}), json::object()},
    };
    RawClient client;
    uint64_t id = 100;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.selector) + " " + c.arguments.dump());
        ASSERT_TRUE(client.sendMessage(RawClient::request(++id, c.selector, c.arguments)));
        const RawClient::Received received = client.receive();
        ASSERT_EQ(received.status, RawClient::Status::reply);
        json expected = c.reply;
        expected["id"] = id;
        EXPECT_EQ(received.message, expected);
    }
}

TEST(HostileInput, APathListHoldingOtherValuesDropsTheConnectionWithNothingDone) {
    const std::string item = "/Library/Caches/com.example.Mixed";
    makeFile(item, "x");
    RawClient client;
    ASSERT_TRUE(client.sendMessage(
        RawClient::request(6, "removeItemsAtPaths:toTrash:reply:", json::array({json::array({item, 17}), false}))));
    EXPECT_TRUE(client.closedWithoutReply());
    EXPECT_TRUE(exists(item));
    RawClient bystander;
    EXPECT_TRUE(bystander.versionAnswered());
    removeAll(item);
}

TEST(HostileInput, ManyHostileClientsAtOnceLeaveTheHelperServing) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 40; ++i) {
                RawClient hostile;
                switch ((t + i) % 4) {
                case 0: hostile.sendBytes(header(0xFFFFFFFF)); break;
                case 1: hostile.sendBytes(header(1000) + "short"); break;
                case 2: hostile.sendBytes(message(json::array({"x"}))); break;
                default: break;  // connect and leave at once
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    // The flood is this user's own: its connections count against the user's
    // limit until the helper has seen them close.
    bool answered = false;
    for (int attempt = 0; attempt < 50 && !answered; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        RawClient bystander;
        answered = bystander.versionAnswered();
    }
    EXPECT_TRUE(answered);
    EXPECT_EQ(::kill(helperPid(), 0), 0);
}

}  // namespace
