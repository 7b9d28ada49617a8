#include "support/HelperLifetime.h"

#include "support/RawClient.h"
#include "support/SandboxUsers.h"
#include "support/SanitizerBuild.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

namespace {

std::string recordedStatus() {
    std::ifstream in("/var/run/sandbox/helper.status");
    std::string status;
    in >> status;
    return status;
}

// Clients that connect and hang up as fast as they can, until stopped or
// nobody listens any more.
class ConnectionFlood {
public:
    explicit ConnectionFlood(unsigned clients) {
        for (unsigned i = 0; i < clients; ++i) threads_.emplace_back([this] { run(); });
    }
    ~ConnectionFlood() {
        stop_ = true;
        for (auto& thread : threads_) thread.join();
    }

private:
    void run() {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, SandboxUsers::helperSocketPath, sizeof address.sun_path - 1);
        while (!stop_) {
            UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
            if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return;
        }
    }

    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

}  // namespace

void expectHelperEndsAfterChange(const std::function<void()>& change) {
    using Clock = std::chrono::steady_clock;
    const pid_t pid = SandboxUsers::helperPid();
    ASSERT_GT(pid, 0);
    UniqueFd helperProcess(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    ASSERT_TRUE(helperProcess.valid());

    RawClient early;
    ASSERT_TRUE(early.versionAnswered(1)) << "admitted before the change";

    change();

    RawClient late;
    // Refused at once: the request may not even get through.
    late.sendMessage(RawClient::request(2, "versionWithReply:", nlohmann::json::array()));
    EXPECT_TRUE(late.closedWithoutReply());
    const auto refused = Clock::now();

    // Connections admitted before keep being served until the end.
    EXPECT_TRUE(early.versionAnswered(3));

    // New connections keep arriving: they do not put the end off.
    pollfd ended{helperProcess.get(), POLLIN, 0};
    {
        ConnectionFlood flood(4);
        ASSERT_EQ(::poll(&ended, 1, 5000), 1) << "the helper did not end";
    }
    const auto delay = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - refused);
    EXPECT_GE(delay.count(), 50) << "ended too soon after the refusal";
    // ThreadSanitizer sleeps a second before the process exits (atexit_sleep_ms).
    EXPECT_LE(delay.count(), threadSanitizerBuild ? 2000 : 1000) << "ended too late after the refusal";

    for (int i = 0; i < 500 && recordedStatus().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(recordedStatus(), "0");

    const SandboxUsers::ToolRun after = SandboxUsers::ctl(SandboxUsers::ann, {"version"});
    EXPECT_EQ(after.status, 69) << "nobody serves after the helper ended";
}
