// Faults around the running helper: clients that die in the middle of a
// request or of a frame, a client that never reads its replies, a flood of
// connections that come and go. After each, the helper serves a fresh client,
// holds no more descriptors or threads than before, and no connection that
// has gone still counts as a user of the motion sensor.
//
// SORVANE_FAULT_ROUNDS (default 20) and SORVANE_FAULT_CONNECTIONS (default
// 10000) scale the run.

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
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <cstring>
#include <functional>
#include <thread>

using namespace Helper;

using namespace FileTree;
using namespace SandboxUsers;
using Wire::Selector;

namespace {

const std::size_t rounds = WireClient::fromEnvironment("SORVANE_FAULT_ROUNDS", 20);

std::string frameOf(const Wire::Request& request) { return Wire::encodeRequest(request); }

Wire::Request version(uint64_t id) { return {id, Selector::version, {}}; }
Wire::Request motion(uint64_t id, bool on) { return {id, Selector::setMotionSensor, {on}}; }

// A client process: becomes `user`, connects to `socketPath`, does `act` with
// the connection, and ends, or dies where `act` kills it.
pid_t startClient(const User& user, std::function<void(int)> act,
                  const std::string& socketPath = helperSocketPath) {
    const pid_t child = ::fork();
    if (child != 0) return child;
    if (!WireClient::becomeUser(user)) ::_exit(2);
    UniqueFd fd = WireClient::connect(socketPath);
    if (!fd) ::_exit(3);
    act(fd.get());
    ::_exit(0);
}

// Waits for the clients; each must have ended by itself or by SIGKILL.
void reap(const std::vector<pid_t>& children) {
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE((WIFEXITED(status) && WEXITSTATUS(status) == 0) || (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL))
            << "client status " << status;
    }
}

// Waits until the helper serves this connection: a peer that is gone before
// its admission is checked is dropped unheard, so a fault that should strike
// in the middle of the work comes after this.
void awaitAdmission(int fd) {
    FrameStream::writeAll(fd, Wire::encodeRequest(version(99)));
    FrameStream::Reader reader(fd);
    std::string body;
    if (reader.next(body) != FrameStream::ReadStatus::frame) ::_exit(4);
}

[[noreturn]] void die() {
    ::kill(::getpid(), SIGKILL);
    ::_exit(1);  // not reached
}

// The helper still serves: a fresh client's version request is answered.
void expectServing(const User& user = ann) {
    EXPECT_TRUE(WireClient::runAs(user, {{version(1), std::string("1.6")}}, 1));
}

// The replies a fresh connection gets for motion on, then off: no sensor on
// this platform switches, so both are false, and a connection that was never
// counted changes nothing else.
void expectFreshMotionReplies() {
    EXPECT_TRUE(WireClient::runAs(bob, {{motion(1, true), false}, {motion(2, false), false}}, 1));
}

void expectBackToBaseline(pid_t helper, const HelperProcess::Resources& before) {
    const auto after = HelperProcess::settled(helper, before);
    EXPECT_EQ(after.descriptors, before.descriptors);
    EXPECT_EQ(after.threads, before.threads);
    EXPECT_LE(after.residentKiB, before.residentKiB + HelperProcess::residentToleranceKiB(before))
        << "before " << before.residentKiB << " KiB, after " << after.residentKiB << " KiB";
}

void writeRules(const std::string& tool, const std::string& rules) {
    std::ofstream("/var/run/sandbox/" + tool + ".rules", std::ios::trunc) << rules;
}

class Faults : public ::testing::Test {
protected:
    void SetUp() override {
        helper = helperPid();
        ASSERT_GT(helper, 0);
        expectServing();
        before = HelperProcess::settled(helper, std::nullopt);
    }
    void TearDown() override {
        writeRules("tccutil", "");
        writeRules("launchctl", "");
    }

    pid_t helper = 0;
    HelperProcess::Resources before;
};

TEST_F(Faults, ClientsKilledInTheMiddleOfARequestOrOfAFrame) {
    // The reset waits a moment in the tool, so that its client is gone before the reply.
    writeRules("tccutil", "reset\t0\t\t\t0.3\n");
    std::vector<std::string> trees;
    for (std::size_t round = 0; round < rounds; ++round) {
        const std::string tree = "/Library/Caches/com.example.fault." + std::to_string(round);
        makeWideTree(tree, 20, 20);
        trees.push_back(tree);
        const std::string request = frameOf({1, Selector::removeItems, {std::vector<std::string>{tree}, false}});
        const std::string reset =
            frameOf({2, Selector::resetPrivacyPermission, {std::string("Camera"), std::string("com.example.fault")}});
        std::vector<pid_t> clients{
            // Dies once its removal is under way.
            startClient(ann, [&](int fd) {
                awaitAdmission(fd);
                FrameStream::writeAll(fd, request);
                die();
            }),
            // Dies while the helper waits for the tool.
            startClient(bob, [&](int fd) {
                awaitAdmission(fd);
                FrameStream::writeAll(fd, reset);
                ::usleep(100'000);
                die();
            }),
            // Dies after half a frame: the header and part of the body.
            startClient(ann, [&](int fd) {
                awaitAdmission(fd);
                FrameStream::writeAll(fd, request.substr(0, request.size() / 2));
                die();
            }),
            // Dies after two bytes of a header.
            startClient(root, [&](int fd) {
                FrameStream::writeAll(fd, request.substr(0, 2));
                die();
            }),
            // Dies holding the motion sensor, with requests still unanswered.
            startClient(bob, [&](int fd) {
                awaitAdmission(fd);
                FrameStream::writeAll(fd, frameOf(motion(1, true)) + frameOf(version(2)) + frameOf(version(3)));
                die();
            }),
            // Half-closes after a request and goes without reading the reply.
            startClient(root, [&](int fd) {
                FrameStream::writeAll(fd, frameOf(motion(1, true)) + frameOf(version(2)));
                ::shutdown(fd, SHUT_WR);
            }),
        };
        reap(clients);
        expectServing(round % 2 == 0 ? ann : root);
    }
    // A removal goes on to its end whether or not anyone waits for its reply.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (const auto& tree : trees) {
        while (exists(tree) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(exists(tree)) << tree;
    }
    expectFreshMotionReplies();
    expectBackToBaseline(helper, before);
}

TEST_F(Faults, AClientThatNeverReadsItsRepliesHoldsUpNoOneAndStaysBounded) {
    UniqueFd silent = WireClient::connect();
    ASSERT_TRUE(silent);
    ::fcntl(silent.get(), F_SETFL, ::fcntl(silent.get(), F_GETFL) | O_NONBLOCK);

    // Requests go out until the helper stops taking them: its replies fill
    // this socket, its writer waits, it reads no further.
    const std::string frame = frameOf({7, Selector::removeItems, {std::vector<std::string>(64, "/System/Library/CoreServices/x"), false}});
    std::size_t sent = 0;
    std::size_t offset = 0;
    auto quietSince = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - quietSince < std::chrono::seconds(3)) {
        const ssize_t count = ::send(silent.get(), frame.data() + offset, frame.size() - offset, MSG_NOSIGNAL);
        if (count > 0) {
            offset += static_cast<std::size_t>(count);
            if (offset == frame.size()) {
                offset = 0;
                ++sent;
            }
            quietSince = std::chrono::steady_clock::now();
            continue;
        }
        ASSERT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK) << std::strerror(errno);
        pollfd waiting{silent.get(), POLLOUT, 0};
        ::poll(&waiting, 1, 100);
    }
    EXPECT_GT(sent, 10u);

    // Everyone else is served meanwhile, over and over.
    std::vector<WireClient::Exchange> versions(200, {version(0), std::string("1.6")});
    for (uint64_t id = 0; id < versions.size(); ++id) versions[id].request.id = id + 1;
    EXPECT_TRUE(WireClient::runAs(ann, versions, 8));
    expectFreshMotionReplies();

    // What the helper holds for the silent connection does not grow with what it sent.
    const auto during = HelperProcess::settled(helper, HelperProcess::Resources{before.descriptors + 1, before.threads + 1, 0});
    EXPECT_EQ(during.threads, before.threads + 1) << "one serving thread for the silent connection";
    EXPECT_LE(during.residentKiB, before.residentKiB + HelperProcess::churnToleranceKiB(16 * 1024))
        << sent << " requests of " << frame.size() << " bytes sent";

    silent = UniqueFd();
    expectBackToBaseline(helper, before);
}

TEST_F(Faults, FramesAnnouncedLargeButNeverSentCostOnlyWhatArrived) {
    // Each connection announces the largest body allowed and sends a few bytes of it.
    constexpr std::size_t count = 32;
    const uint32_t n = Wire::maxBodyLength;
    const std::string start = std::string{char(n >> 24), char(n >> 16), char(n >> 8), char(n)} + "bplist00";
    std::vector<UniqueFd> waiting;
    for (std::size_t i = 0; i < count; ++i) {
        waiting.push_back(WireClient::connect());
        ASSERT_TRUE(waiting.back());
        ASSERT_TRUE(FrameStream::writeAll(waiting.back().get(), start));
    }
    expectServing();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto during = HelperProcess::of(helper);
    EXPECT_LE(during.residentKiB, before.residentKiB + HelperProcess::churnToleranceKiB(static_cast<long>(count) * 1024))
        << "more than 1 MiB a connection for bodies that never came";
    waiting.clear();
    expectBackToBaseline(helper, before);
}

// The text of a daemon's plist that the rules allow, so that launchctl runs;
// its program is made too.
std::string allowedDaemon(const std::string& label) {
    makeFile("/usr/local/libexec/" + label, "#!/bin/sh\n", {}, 0755);
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>Label</key><string>" + label + "</string>"
           "<key>Program</key><string>/usr/local/libexec/" + label + "</string></dict></plist>\n";
}

TEST_F(Faults, ManyConnectionsOpenedAndDropped) {
    const std::size_t connections = WireClient::fromEnvironment("SORVANE_FAULT_CONNECTIONS", 10000);
    const std::string request = frameOf(version(1));
    for (std::size_t i = 0; i < connections; ++i) {
        UniqueFd fd = WireClient::connect();
        ASSERT_TRUE(fd) << "connection " << i << ": " << std::strerror(errno);
        // Some say nothing, some half a request, some a whole one they do not wait for.
        if (i % 3 == 1) FrameStream::writeAll(fd.get(), request.substr(0, 7));
        if (i % 3 == 2) FrameStream::writeAll(fd.get(), request);
    }
    expectServing();
    expectBackToBaseline(helper, before);
}

// A client process made now, while this process has one thread, that waits
// for a byte on `go` before it connects: forking later, with the listener's
// threads running, could copy a lock one of them holds.
struct WaitingClient {
    pid_t pid;
    UniqueFd go;
};

WaitingClient startWaitingClient(const User& user, std::function<void(int)> act, const std::string& socketPath) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return {-1, {}};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ends[1]);
        char byte = 0;
        if (::read(ends[0], &byte, 1) != 1) ::_exit(0);  // not needed after all
        if (!WireClient::becomeUser(user)) ::_exit(2);
        UniqueFd fd = WireClient::connect(socketPath);
        if (!fd) ::_exit(3);
        act(fd.get());
        ::_exit(0);
    }
    ::close(ends[0]);
    return {child, UniqueFd(ends[1])};
}

// The motion sensor's count lives in the helper; to read it, the helper's own
// listener and admission run here, in this process, on a socket of their own,
// and clients connect to it as they would to the helper. Clients are forked
// before it starts its threads.
class InProcessHelper {
public:
    InProcessHelper() : folder_("/private/var/tmp"), listener_(socketPath()) {
        ::chmod(folder_.path().c_str(), 0755);
    }
    ~InProcessHelper() {
        listening_ = false;
        if (acceptor_.joinable()) acceptor_.join();
    }

    std::string socketPath() const { return folder_ / "helper.socket"; }

    void start() {
        listener_.setDelegate([](const std::shared_ptr<Connection>& connection) { return admitConnection(connection); });
        ASSERT_TRUE(listener_.resume());
        acceptor_ = std::thread([this] {
            while (listening_) {
                pollfd waiting{listener_.fd(), POLLIN, 0};
                if (::poll(&waiting, 1, 50) > 0) listener_.acceptWaiting();
            }
        });
    }

private:
    ScratchFolder folder_;
    Listener listener_;
    std::atomic<bool> listening_{true};
    std::thread acceptor_;
};

TEST_F(Faults, TheMotionSensorCountReturnsToZeroOnceEveryClientHasGone) {
    InProcessHelper inProcess;
    const std::string socketPath = inProcess.socketPath();
    const std::string on = frameOf(motion(1, true));
    const std::string off = frameOf(motion(2, false));
    constexpr int perRound = 8;

    // The helper itself answers as a sensor-less machine does.
    expectFreshMotionReplies();

    std::vector<std::vector<WaitingClient>> clients(rounds);
    for (std::size_t round = 0; round < rounds; ++round) {
        for (int i = 0; i < perRound; ++i) {
            clients[round].push_back(startWaitingClient(i % 2 == 0 ? ann : bob, [&, i, round](int fd) {
                switch (i % 4) {
                case 0:  // on, and dies without waiting for the reply
                    if (round % 2 == 0) awaitAdmission(fd);
                    FrameStream::writeAll(fd, on);
                    die();
                case 1: {  // on, reads the reply, dies in the middle of the next frame
                    FrameStream::writeAll(fd, on);
                    FrameStream::Reader reader(fd);
                    std::string body;
                    (void)reader.next(body);
                    FrameStream::writeAll(fd, off.substr(0, 9));
                    die();
                }
                case 2:  // on, off, on again, and leaves in order
                    FrameStream::writeAll(fd, on + off + on);
                    ::shutdown(fd, SHUT_WR);
                    return;
                default:  // on twice, and closes at once
                    FrameStream::writeAll(fd, on + on);
                    return;
                }
            }, socketPath));
            ASSERT_GT(clients[round].back().pid, 0);
        }
    }

    inProcess.start();
    MotionSensor& sensor = MotionSensor::shared();
    EXPECT_EQ(sensor.userCount(), 0);
    for (std::size_t round = 0; round < rounds; ++round) {
        std::vector<pid_t> started;
        for (auto& client : clients[round]) {
            EXPECT_EQ(::write(client.go.get(), "g", 1), 1);
            client.go = UniqueFd();
            started.push_back(client.pid);
        }
        reap(started);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (sensor.userCount() != 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(sensor.userCount(), 0) << "round " << round;
    }
}

// The vote goes the moment its connection does, even while one of the
// connection's launch-job sequences still waits for launchctl.
TEST_F(Faults, AConnectionsMotionVoteGoesWithItWhileItsLaunchctlStillRuns) {
    using namespace std::chrono;
    const std::string label = "com.example.slow";
    const std::string plist = "/Library/LaunchDaemons/" + label + ".plist";
    makeFile(plist, allowedDaemon(label));
    writeRules("launchctl", "bootstrap\t0\t\t\t4\n");
    // A thread made first: a sanitizer's own thread, started with the first
    // one, is then in the count.
    std::thread([] {}).join();
    const HelperProcess::Resources thisProcess = HelperProcess::of(::getpid());
    {
        InProcessHelper inProcess;
        WaitingClient client = startWaitingClient(root, [&](int fd) {
            // Requests are served in order: with the motion reply in, the enable is under way.
            FrameStream::writeAll(fd, frameOf({1, Selector::setLaunchJob, {label, plist, true}}) + frameOf(motion(2, true)));
            FrameStream::Reader reader(fd);
            std::string body;
            (void)reader.next(body);
        }, inProcess.socketPath());
        ASSERT_GT(client.pid, 0);
        inProcess.start();
        MotionSensor& sensor = MotionSensor::shared();
        ASSERT_EQ(::write(client.go.get(), "g", 1), 1);
        reap({client.pid});
        const auto gone = steady_clock::now();
        while (sensor.userCount() != 0 && steady_clock::now() < gone + seconds(10))
            std::this_thread::sleep_for(milliseconds(5));
        EXPECT_EQ(sensor.userCount(), 0);
        EXPECT_LT(duration_cast<milliseconds>(steady_clock::now() - gone).count(), 1000)
            << "the vote waited for launchctl";
    }
    // The sequence's thread, and the connection's, end once launchctl has.
    EXPECT_EQ(HelperProcess::settled(::getpid(), thisProcess).threads, thisProcess.threads);
}

}  // namespace
