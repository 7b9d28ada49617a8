// One connection served over a socket pair: replies and their ids, its end,
// malformed input and frames cut short. That one connection's stall holds up no other is proven on
// the running helper.
#include "client/HelperClient.h"
#include "platform/transport/Connection.h"
#include "platform/transport/WireProtocol.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

// One connection served over a socket pair, without a code requirement, with
// a test handler as its exported object.
class ServedConnection {
public:
    explicit ServedConnection(Connection::RequestHandler handler) {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        auto connection = std::make_shared<Connection>(UniqueFd(fds[0]), threads);
        connection->setExportedObject(std::move(handler));
        connection->setInvalidationHandler([this] { ++invalidations; });
        connection->resume();
        clientFd = fds[1];
        const timeval overdue{10, 0};  // a reply that never comes fails the test instead of hanging it
        ::setsockopt(clientFd, SOL_SOCKET, SO_RCVTIMEO, &overdue, sizeof overdue);
        client = std::make_unique<HelperClient>(UniqueFd(clientFd));
    }
    // The connection's handlers refer to this object: it ends first, and its
    // thread is joined before the test goes on.
    ~ServedConnection() {
        client.reset();
        waitForEnd();
    }
    bool waitForEnd(std::chrono::milliseconds timeout = 5s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (invalidations == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
        return invalidations > 0;
    }

    int clientFd = -1;
    std::unique_ptr<HelperClient> client;
    std::atomic<int> invalidations{0};

private:
    ThreadGroup threads;  // declared last: joined before the rest goes
};

// Replies with the selector's name at once.
void echoSelector(Wire::Request request, Connection::Responder respond) {
    respond(std::string(Wire::info(request.selector).name));
}

}  // namespace

TEST(Connection, RepliesCarryTheirRequestIdsInArrivalOrder) {
    ServedConnection served(echoSelector);
    std::vector<uint64_t> sent;
    for (int i = 0; i < 20; ++i) sent.push_back(*served.client->send(Wire::Selector::version, {}));
    for (uint64_t id : sent) {
        const auto reply = served.client->receive();
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->id, id);
        EXPECT_EQ(reply->value, Wire::ReplyValue(std::string("versionWithReply:")));
    }
}

TEST(Connection, AReplyFromAnotherThreadMayFollowLaterOnesAndIsSentOnce) {
    std::vector<std::thread> workers;
    ServedConnection served([&](Wire::Request request, Connection::Responder respond) {
        if (request.selector != Wire::Selector::setLaunchJob) return respond(true);
        workers.emplace_back([respond] {
            std::this_thread::sleep_for(50ms);
            respond(std::monostate{});
            respond(std::string("a second reply is never sent"));
        });
    });
    const auto slow = *served.client->send(Wire::Selector::setLaunchJob, {"label", "plist", true});
    const auto fast = *served.client->send(Wire::Selector::version, {});
    served.client->finishSending();
    const auto first = served.client->receive();
    const auto second = served.client->receive();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->id, fast);
    EXPECT_EQ(second->id, slow);
    EXPECT_EQ(second->value, Wire::ReplyValue(std::monostate{}));
    EXPECT_FALSE(served.client->receive()) << "closed after the half-closed client was served";
    EXPECT_TRUE(served.waitForEnd());
    for (auto& worker : workers) worker.join();
    EXPECT_EQ(served.invalidations, 1);
}

// The end handler withdraws what the connection held (the motion sensor's
// vote): once the peer has gone it waits for the request in flight to return,
// but not for a reply still due, say of a launch job whose launchctl hangs.
TEST(Connection, APeerThatHasClosedEndsTheConnectionOnceTheRequestInFlightHasReturned) {
    std::atomic<bool> returned{false};
    Connection::Responder late;
    ServedConnection served([&](Wire::Request, Connection::Responder respond) {
        std::this_thread::sleep_for(100ms);
        late = std::move(respond);
        returned = true;
    });
    served.client->send(Wire::Selector::setLaunchJob, {"label", "plist", true});
    ::shutdown(served.clientFd, SHUT_RDWR);
    ASSERT_TRUE(served.waitForEnd(1s));
    EXPECT_TRUE(returned);
    late(true);
    EXPECT_EQ(served.invalidations, 1);
}

TEST(Connection, AReplyNeverCalledDoesNotHoldTheConnectionOpen) {
    ServedConnection served([](Wire::Request, Connection::Responder) {});
    served.client->send(Wire::Selector::version, {});
    served.client->finishSending();
    EXPECT_FALSE(served.client->receive());
    EXPECT_TRUE(served.waitForEnd());
}

// What came before is answered; nothing of the malformed frame is served. A
// length above the limit is judged on the header alone, the client still open.
TEST(Connection, MalformedInputDropsTheConnection) {
    const struct {
        const char* what;
        std::string bytes;
        bool closeAfter;
    } cases[] = {
        {"length above 16 MiB", std::string("\x01\x00\x00\x01", 4), false},
        {"garbage body", std::string("\0\0\0\x07garbage", 11), false},
        {"wrong shape", Wire::encodeRequest({2, Wire::Selector::version, {std::string("extra")}}), false},
        {"frame cut short",
         std::string("\0\0\0\x10"
                     "bplist",
                     10),
         true},
        {"header cut short", std::string(2, '\0'), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        int requests = 0;
        ServedConnection served([&](Wire::Request request, Connection::Responder respond) {
            ++requests;
            echoSelector(std::move(request), std::move(respond));
        });
        const auto id = served.client->send(Wire::Selector::version, {});
        ASSERT_EQ(::write(served.clientFd, c.bytes.data(), c.bytes.size()), ssize_t(c.bytes.size()));
        if (c.closeAfter) served.client->finishSending();
        const auto reply = served.client->receive();
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->id, id);
        EXPECT_FALSE(served.client->receive());
        EXPECT_TRUE(served.waitForEnd());
        EXPECT_EQ(requests, 1);
        EXPECT_EQ(served.invalidations, 1);
    }
}
