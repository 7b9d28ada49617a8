// The real daemon binary, started by socket activation or on its own, in a
// private mount namespace whose /mnt (and /run) are fresh tmpfs mounts, so that
// copies installed there by root pass admission and nothing on the host changes.
#include "client/HelperClient.h"
#include "platform/os/ChildProcess.h"
#include "support/SanitizerBuild.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

extern char** environ;

using namespace std::chrono;
namespace fs = std::filesystem;

namespace {

const std::string helperPath = "/mnt/bin/com.kelto.Sorvane.Helper", clientPath = "/mnt/bin/sorvanectl";
const std::string activatedSocket = "/mnt/run/helper.sock";
constexpr gid_t clientGroup = 900;  // listed in this namespace's /etc/group

void install(const char* name, const std::string& to, mode_t mode, gid_t group) {
    const fs::path built = fs::read_symlink("/proc/self/exe").parent_path().parent_path() / name;
    fs::copy_file(built, to, fs::copy_options::overwrite_existing);
    ASSERT_EQ(::chown(to.c_str(), 0, group), 0);
    ASSERT_EQ(::chmod(to.c_str(), mode), 0);
}

bool waitFor(const std::function<bool()>& condition, milliseconds timeout = seconds(5)) {
    for (const auto deadline = steady_clock::now() + timeout; !condition();
         std::this_thread::sleep_for(milliseconds(5)))
        if (steady_clock::now() > deadline) return false;
    return true;
}

int shell(const std::string& command) {
    return ChildProcess::run("/bin/sh", {"-c", command}, ChildProcess::Streams::separate).status;
}

// A helper process, through systemd-socket-activate on activatedSocket or on
// its own path (with `inherited`, when given, as its descriptor 3); killed
// when the test ends unless it has ended (pid -1).
struct RunningHelper {
    explicit RunningHelper(bool activated, int inherited = -1) {
        const std::string socket = activated ? activatedSocket : HelperClient::socketPath();
        std::vector<std::string> words{"/usr/bin/systemd-socket-activate", "-l", activatedSocket, helperPath};
        if (!activated) words.erase(words.begin(), words.begin() + 3);
        fs::remove(activatedSocket);
        std::vector<char*> argv;
        for (auto& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t quiet;  // systemd-socket-activate reports what it does on standard error
        posix_spawn_file_actions_init(&quiet);
        posix_spawn_file_actions_addopen(&quiet, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        if (inherited >= 0) posix_spawn_file_actions_adddup2(&quiet, inherited, 3);
        EXPECT_EQ(::posix_spawn(&pid, argv[0], &quiet, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&quiet);
        EXPECT_TRUE(waitFor([&] { return fs::is_socket(socket); }));
    }
    ~RunningHelper() {
        if (pid > 0 && ::kill(pid, SIGKILL) == 0) ::waitpid(pid, nullptr, 0);
    }
    pid_t pid = -1;
};

class HelperDaemon : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (::geteuid() != 0 || ::mount("tmpfs", "/mnt", "tmpfs", 0, "mode=0755") != 0) return;
        fs::create_directories("/mnt/bin");
        fs::create_directories("/mnt/run");
        fs::copy_file("/etc/group", "/mnt/group");
        std::ofstream("/mnt/group", std::ios::app) << "sorvane:x:" << clientGroup << ":\n";
        ASSERT_EQ(::mount("/mnt/group", "/etc/group", nullptr, MS_BIND, nullptr), 0);
        install("sorvanectl", clientPath, 02755, clientGroup);
        ready = true;
    }
    void SetUp() override {
        if (!ready) GTEST_SKIP() << "needs root in a private mount namespace";
        install("com.kelto.Sorvane.Helper", helperPath, 0755, 0);
        ::setenv("SORVANE_HELPER_SOCKET", activatedSocket.c_str(), 1);
    }
    static inline bool ready = false;
};

}  // namespace

TEST_F(HelperDaemon, AReplacedOrDeletedExecutableRefusesTheNextConnectionAndEndsTheProcess) {
    for (const char* change : {"cp $H $H.new && mv $H.new $H", "rm $H"}) {
        SCOPED_TRACE(change);
        install("com.kelto.Sorvane.Helper", helperPath, 0755, 0);
        RunningHelper helper(true);
        // A session admitted before the change, fed line by line through a fifo.
        const std::string in = "/mnt/run/early.in", out = "/mnt/run/early.out";
        fs::remove(in);
        ASSERT_EQ(::mkfifo(in.c_str(), 0600), 0);
        UniqueFd early(::open(in.c_str(), O_RDWR | O_CLOEXEC));
        shell(clientPath + " session < " + in + " > " + out + " 2>&1 &");
        auto replies = [&](int count) {
            return waitFor(
                [&] { return shell("test \"$(grep -c line " + out + ")\" = " + std::to_string(count)) == 0; });
        };
        ASSERT_EQ(::write(early.get(), "[\"version\"]\n", 12), 12);
        ASSERT_TRUE(replies(1));
        // Changed in place (times and mode): still the same file.
        const std::string h = helperPath;
        ASSERT_EQ(
            shell("touch " + h + " && chmod 0700 " + h + " && chmod 0755 " + h + " && " + clientPath + " version"), 0);

        ASSERT_EQ(shell("H=" + h + "; " + change), 0);
        const auto refused = steady_clock::now();
        EXPECT_EQ(shell(clientPath + " version"), 69);
        shell(clientPath + " version");  // a second refusal schedules nothing new
        ASSERT_EQ(::write(early.get(), "[\"version\"]\n", 12), 12);
        EXPECT_TRUE(replies(2)) << "admitted before the change, served to the end";
        early.reset();
        // New connections keep arriving: they do not put the end off.
        std::atomic<bool> flooding{true};
        std::thread flood([&] {
            while (flooding && HelperClient::connect(activatedSocket)) {
            }
        });
        int status = -1;
        if (waitFor([&] { return ::waitpid(helper.pid, &status, WNOHANG) == helper.pid; }, seconds(3))) helper.pid = -1;
        const auto elapsed = steady_clock::now() - refused;
        flooding = false;
        flood.join();
        EXPECT_EQ(status, 0);
        EXPECT_GE(elapsed, milliseconds(150));
        EXPECT_LT(elapsed, threadSanitizerBuild ? seconds(2) : seconds(1));  // ThreadSanitizer sleeps a second at exit
    }
}

// A listening socket handed on for another process is not taken.
TEST_F(HelperDaemon, WithoutActivationItMakesItsOwnSocketOverAStaleOne) {
    ASSERT_EQ(::mount("tmpfs", "/run", "tmpfs", 0, "mode=0755"), 0);
    ::unsetenv("SORVANE_HELPER_SOCKET");
    std::ofstream(HelperClient::socketPath()) << "stale";
    UniqueFd other(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{AF_UNIX, "/mnt/run/other.sock"};
    ASSERT_EQ(::bind(other.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(other.get(), 1), 0);
    ::setenv("LISTEN_PID", "1", 1);
    ::setenv("LISTEN_FDS", "1", 1);
    {
        RunningHelper helper(false, other.get());
        struct stat status {};
        EXPECT_EQ(::stat(HelperClient::socketPath().c_str(), &status), 0);
        EXPECT_EQ(status.st_mode, S_IFSOCK | 0666u);
        EXPECT_EQ(shell(clientPath + " version"), 0);
    }
    ::unsetenv("LISTEN_PID");
    ::unsetenv("LISTEN_FDS");
    ::umount2("/run", MNT_DETACH);
}
