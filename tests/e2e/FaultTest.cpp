// Faults around the helper: clients that die in the middle of a request or of
// a frame, holding the motion sensor or while a tool runs for them; a client
// that never reads its replies; hostile and abandoned connections by the
// thousand. The helper keeps serving, finishes the work it began, ends up
// holding no more descriptors or threads than before and about the same
// memory, and no connection that has gone still counts as a sensor user.
//
// SORVANE_FAULT_ROUNDS (default 5) and SORVANE_FAULT_CONNECTIONS (default
// 2000) scale the run.
#include "helper/ListenerDelegate.h"
#include "helper/MotionSensor.h"
#include "platform/transport/FrameStream.h"
#include "platform/transport/Listener.h"
#include "support/FileTree.h"
#include "support/HelperProcess.h"
#include "support/SandboxUsers.h"
#include "support/ScratchFolder.h"
#include "support/WireClient.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

using namespace FileTree;
using namespace SandboxUsers;
using namespace std::chrono;
using Wire::Selector;

namespace {

std::string frameOf(uint64_t id, Selector selector, std::vector<Wire::Argument> arguments) {
    return Wire::encodeRequest({id, selector, std::move(arguments)});
}

void writeRules(const std::string& tool, const std::string& rules) {
    std::ofstream("/var/run/sandbox/" + tool + ".rules", std::ios::trunc) << rules;
}

bool served() { return WireClient::runAs(ann, {{{1, Selector::version, {}}, std::string("1.6")}}, 1); }

// What the running helper holds once it has served someone (its admission
// workers start with the first connection).
HelperProcess::Resources baselineOf(pid_t helper) {
    EXPECT_TRUE(served());
    return HelperProcess::settled(helper, std::nullopt);
}

void expectBackTo(pid_t process, const HelperProcess::Resources& before) {
    const auto after = HelperProcess::settled(process, before);
    EXPECT_EQ(after.descriptors, before.descriptors);
    EXPECT_EQ(after.threads, before.threads);
    EXPECT_LE(after.residentKiB, before.residentKiB + HelperProcess::residentToleranceKiB(before))
        << before.residentKiB;
}

// What one client does: waits until it is served (a peer gone before its
// admission is dropped unheard), sends `first`, reads `replies`, sends `then`,
// and ends as `ending` says.
struct Act {
    const User* user;
    bool awaitsAdmission;
    std::string first;
    int replies;
    std::string then;
    enum { dies, halfCloses, closes } ending;
};

// A client process, made before the helper's threads start: a fork later could
// copy a lock one of them holds. Writing to `go` lets it connect and act.
struct Client {
    pid_t pid = -1;
    UniqueFd go;
};

Client startClient(const Act& act, const std::string& socketPath) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return {};
    const pid_t child = ::fork();
    if (child != 0) {
        ::close(ends[0]);
        return {child, UniqueFd(ends[1])};
    }
    char byte = 0;
    UniqueFd fd;
    if (::read(ends[0], &byte, 1) != 1 || !WireClient::becomeUser(*act.user) || !(fd = WireClient::connect(socketPath)))
        ::_exit(3);
    FrameStream::Reader reader(fd.get());
    std::string body;
    if (act.awaitsAdmission && !(FrameStream::writeAll(fd.get(), frameOf(99, Selector::version, {})) &&
                                 reader.next(body) == FrameStream::ReadStatus::frame))
        ::_exit(4);
    FrameStream::writeAll(fd.get(), act.first);
    for (int i = 0; i < act.replies; ++i) (void)reader.next(body);
    FrameStream::writeAll(fd.get(), act.then);
    if (act.ending == Act::dies) ::kill(::getpid(), SIGKILL);
    if (act.ending == Act::halfCloses) ::shutdown(fd.get(), SHUT_WR);
    ::_exit(0);
}

// The helper's own listener and admission, run in this process on a socket
// of their own, so that the motion sensor's count can be read.
struct InProcessHelper {
    ScratchFolder folder{"/private/var/tmp"};
    std::string socketPath = folder / "helper.socket";
    Listener listener{socketPath};
    std::atomic<bool> listening{true};
    std::thread acceptor;

    ~InProcessHelper() {
        listening = false;
        if (acceptor.joinable()) acceptor.join();
    }
    void start() {
        ::chmod(folder.path().c_str(), 0755);
        listener.setDelegate([](const std::shared_ptr<Connection>& peer) { return Helper::admitConnection(peer); });
        ASSERT_TRUE(listener.resume());
        acceptor = std::thread([this] {
            for (pollfd waiting{listener.fd(), POLLIN, 0}; listening;)
                if (::poll(&waiting, 1, 50) > 0) listener.acceptWaiting();
        });
    }
};

// One client a round also goes while launchctl still runs for its launch job:
// its vote goes with its connection all the same.
TEST(Faults, ClientsThatDieInTheMiddleLeaveNoSensorVoteNorAnythingHeld) {
    const std::size_t rounds = WireClient::fromEnvironment("SORVANE_FAULT_ROUNDS", 5);
    const std::string label = "com.example.slow", plist = "/Library/LaunchDaemons/" + label + ".plist";
    makeFile("/usr/local/libexec/" + label, "#!/bin/sh\n", {}, 0755);
    makeFile(plist,
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>Label</key><string>" +
                 label + "</string><key>Program</key><string>/usr/local/libexec/" + label +
                 "</string></dict></plist>\n");
    writeRules("launchctl", "bootstrap\t0\t\t\t5\n");
    writeRules("tccutil", "reset\t0\t\t\t0.3\n");
    std::thread([] {}).join();  // a sanitizer's own thread, started with the first one, is then in the count
    const HelperProcess::Resources before = HelperProcess::of(::getpid());
    std::vector<std::string> trees;
    {
        InProcessHelper helper;
        const std::string on = frameOf(1, Selector::setMotionSensor, {true});
        const std::string off = frameOf(2, Selector::setMotionSensor, {false});
        const std::string versions = frameOf(2, Selector::version, {}) + frameOf(3, Selector::version, {});
        const std::string reset =
            frameOf(4, Selector::resetPrivacyPermission, {std::string("Camera"), std::string("com.example.fault")});
        const std::string enable = frameOf(5, Selector::setLaunchJob, {label, plist, true});
        std::vector<std::vector<Client>> clients(rounds);
        for (std::size_t round = 0; round < rounds; ++round) {
            trees.push_back("/Library/Caches/com.example.fault." + std::to_string(round));
            makeWideTree(trees.back(), 10, 20);
            const std::string removal =
                frameOf(6, Selector::removeItems, {std::vector<std::string>{trees.back()}, false});
            // clang-format off
            const Act acts[] = {
                {&ann, true, removal, 0, "", Act::dies},                                // once its removal is under way
                {&bob, true, reset, 0, "", Act::dies},                                  // while the tool runs for it
                {&ann, true, removal.substr(0, removal.size() / 2), 0, "", Act::dies},  // after half a frame
                {&root, false, removal.substr(0, 2), 0, "", Act::dies},                 // after two bytes of a header
                {&bob, true, on + versions, 0, "", Act::dies},          // holding the sensor, owed replies
                {&root, false, on + versions, 0, "", Act::halfCloses},  // goes without reading its replies
                {&ann, false, on, 1, off.substr(0, 9), Act::dies},      // in the middle of its next frame
                {&bob, false, on + off + on, 0, "", Act::halfCloses},   // leaves in order
                {&ann, false, on + on, 0, "", Act::closes},
                // Served in order: with the motion reply in, the enable runs.
                {&root, false, enable + on, 1, "", Act::closes},
            };
            // clang-format on
            for (const Act& act : acts) clients[round].push_back(startClient(act, helper.socketPath));
        }
        helper.start();
        for (std::size_t round = 0; round < rounds; ++round) {
            for (auto& client : clients[round]) EXPECT_EQ(::write(std::exchange(client.go, {}).get(), "g", 1), 1);
            for (const auto& client : clients[round]) {
                int status = 0;
                ASSERT_EQ(::waitpid(client.pid, &status, 0), client.pid);
                EXPECT_TRUE(WIFEXITED(status) ? WEXITSTATUS(status) == 0 : WTERMSIG(status) == SIGKILL) << status;
            }
            const auto gone = steady_clock::now();
            while (Helper::MotionSensor::shared().userCount() != 0 && steady_clock::now() < gone + seconds(2))
                std::this_thread::sleep_for(milliseconds(5));
            EXPECT_EQ(Helper::MotionSensor::shared().userCount(), 0) << "round " << round << "; launchctl takes 5 s";
        }
        // A removal goes on to its end whether or not anyone waits for its reply.
        for (const auto deadline = steady_clock::now() + seconds(60);
             exists(trees.back()) && steady_clock::now() < deadline;)
            std::this_thread::sleep_for(milliseconds(50));
        for (const auto& tree : trees) EXPECT_FALSE(exists(tree)) << tree;
    }
    writeRules("launchctl", "");
    writeRules("tccutil", "");
    expectBackTo(::getpid(), before);
}

// Requests go out until the helper takes no more (its replies fill the
// socket, its writer waits, it reads no further); everyone else is served
// meanwhile, and what the helper holds does not grow with what was sent.
TEST(Faults, AClientThatNeverReadsItsRepliesHoldsUpNoOneAndStaysBounded) {
    const pid_t helper = helperPid();
    const auto before = baselineOf(helper);
    UniqueFd silent = WireClient::connect();
    ASSERT_TRUE(silent);
    const timeval stalled{3, 0};  // a send that waits this long: the helper reads no more
    ::setsockopt(silent.get(), SOL_SOCKET, SO_SNDTIMEO, &stalled, sizeof stalled);
    const std::string frame =
        frameOf(7, Selector::removeItems, {std::vector<std::string>(64, "/System/Library/x"), false});
    std::size_t sent = 0;
    while (FrameStream::writeAll(silent.get(), frame)) ++sent;
    EXPECT_GT(sent, 10u);
    std::vector<WireClient::Exchange> versions(100, {{0, Selector::version, {}}, std::string("1.6")});
    for (uint64_t id = 0; id < versions.size(); ++id) versions[id].request.id = id + 1;
    EXPECT_TRUE(WireClient::runAs(ann, versions, 8));
    const auto during =
        HelperProcess::settled(helper, HelperProcess::Resources{before.descriptors + 1, before.threads + 1});
    EXPECT_EQ(during.threads, before.threads + 1) << "one serving thread for the silent connection";
    EXPECT_LE(during.residentKiB, before.residentKiB + HelperProcess::churnToleranceKiB(16 * 1024))
        << sent << " requests sent";
    silent = UniqueFd();
    expectBackTo(helper, before);
}

TEST(Faults, HostileAndAbandonedConnectionsCostOnlyWhatArrivedAndLeaveTheHelperServing) {
    const pid_t helper = helperPid();
    const auto before = baselineOf(helper);
    // Bodies announced at the largest length allowed, of which a few bytes come.
    const uint32_t n = Wire::maxBodyLength;
    std::vector<UniqueFd> waiting(32);
    for (auto& fd : waiting) {
        fd = WireClient::connect();
        ASSERT_TRUE(FrameStream::writeAll(fd.get(),
                                          std::string{char(n >> 24), char(n >> 16), char(n >> 8), char(n)} + "bplist"));
    }
    EXPECT_TRUE(served());
    std::this_thread::sleep_for(milliseconds(500));
    EXPECT_LE(HelperProcess::of(helper).residentKiB, before.residentKiB + HelperProcess::churnToleranceKiB(32 * 1024));
    waiting.clear();
    // From four threads at once: nothing, part of a frame, a request not waited
    // for, and what is no frame or no message.
    const std::string version = frameOf(1, Selector::version, {});
    // clang-format off
    const std::string kinds[] = {"", version.substr(0, 7), version, "\xff\xff\xff\xff", "GET / HTTP/1.1\r\n\r\n",
                                 std::string("\0\0\x03\xe8short", 9), std::string("\0\0\0\x07garbage", 11),
                                 frameOf(2, Selector::version, {std::string("extra")})};
    // clang-format on
    const std::size_t connections = WireClient::fromEnvironment("SORVANE_FAULT_CONNECTIONS", 2000);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (std::size_t i = t; i < connections; i += 4)
                if (const UniqueFd fd = WireClient::connect())
                    FrameStream::writeAll(fd.get(), kinds[i % std::size(kinds)]);
        });
    for (auto& thread : threads) thread.join();
    EXPECT_TRUE(served());
    expectBackTo(helper, before);
}

}  // namespace
