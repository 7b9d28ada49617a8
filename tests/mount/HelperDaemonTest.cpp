// The real daemon binary, started by socket activation or on its own, in a
// private mount namespace whose /mnt (and /run) are fresh tmpfs mounts, so that
// copies installed there by root pass admission and nothing on the host changes.
#include "client/HelperClient.h"
#include "platform/transport/WireProtocol.h"
#include "platform/os/ChildProcess.h"
#include "support/SanitizerBuild.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

extern char** environ;

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

const std::string installed = "/mnt/bin";
const std::string helperPath = installed + "/com.kelto.Sorvane.Helper";
const std::string clientPath = installed + "/sorvanectl";
const std::string activatedSocket = "/mnt/run/helper.sock";

fs::path binaryDir() { return fs::read_symlink("/proc/self/exe").parent_path().parent_path(); }

// The group the client is installed set-group-ID to, listed in this
// namespace's /etc/group.
constexpr gid_t clientGroup = 900;

// A client copy: set-group-ID to the client group unless `mode` says otherwise.
void install(const fs::path& from, const std::string& to, uid_t owner = 0, mode_t mode = 02755, gid_t group = clientGroup) {
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    ASSERT_EQ(::chown(to.c_str(), owner, group), 0);
    ASSERT_EQ(::chmod(to.c_str(), mode), 0);
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// A helper process; stopped and reaped when the test ends.
class RunningHelper {
public:
    // Through systemd-socket-activate on activatedSocket, or on its own path.
    explicit RunningHelper(bool activated) {
        const std::string socket = activated ? activatedSocket : HelperClient::socketPath();
        if (activated) fs::remove(socket);
        std::vector<std::string> words;
        if (activated) words = {"/usr/bin/systemd-socket-activate", "-l", activatedSocket, helperPath};
        else words = {helperPath};
        std::vector<char*> argv;
        for (auto& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        char* emptyEnvironment[] = {nullptr};
        // systemd-socket-activate reports what it does on standard error.
        posix_spawn_file_actions_t quiet;
        posix_spawn_file_actions_init(&quiet);
        posix_spawn_file_actions_addopen(&quiet, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        EXPECT_EQ(::posix_spawn(&pid, argv[0], &quiet, nullptr, argv.data(), activated ? environ : emptyEnvironment), 0);
        posix_spawn_file_actions_destroy(&quiet);
        EXPECT_TRUE(waitFor([&] { return fs::is_socket(socket); }));
    }
    ~RunningHelper() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    // The exit status once it ended on its own within the timeout, else nothing.
    std::optional<int> exitStatus(std::chrono::milliseconds timeout) {
        int status = 0;
        if (!waitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, timeout)) return std::nullopt;
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    pid_t pid = -1;
};

ChildProcess::Result shell(const std::string& command) {
    return ChildProcess::run("/bin/sh", {"-c", command}, ChildProcess::Streams::separate);
}

class HelperDaemon : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (::geteuid() != 0 || ::mount("tmpfs", "/mnt", "tmpfs", 0, "mode=0755") != 0) {
            skipped = true;
            return;
        }
        fs::create_directories(installed);
        fs::create_directories("/mnt/run");
        fs::copy_file("/etc/group", "/mnt/group");
        std::ofstream("/mnt/group", std::ios::app) << "sorvane:x:" << clientGroup << ":\n";
        ASSERT_EQ(::mount("/mnt/group", "/etc/group", nullptr, MS_BIND, nullptr), 0);
        install(binaryDir() / "com.kelto.Sorvane.Helper", helperPath, 0, 0755, 0);
        install(binaryDir() / "sorvanectl", clientPath);
    }
    void SetUp() override {
        if (skipped) GTEST_SKIP() << "needs root in a private mount namespace";
        ::setenv("SORVANE_HELPER_SOCKET", activatedSocket.c_str(), 1);
    }
    static inline bool skipped = false;
};

}  // namespace

TEST_F(HelperDaemon, AnswersSorvanectlInOneShotAndSessionModes) {
    RunningHelper helper(true);
    auto result = shell(clientPath + " --json version");
    EXPECT_EQ(result.output, "\"1.6\"\n") << result.error;
    result = shell("printf '%s\\n' '[\"version\"]' '' '[\"remove\",\"--trash\"]' '[\"motion\",\"off\"]' | " + clientPath +
                   " session");
    EXPECT_EQ(result.output,
              "{\"line\": 1, \"reply\": \"1.6\"}\n{\"line\": 3, \"reply\": {}}\n{\"line\": 4, \"reply\": true}\n")
        << result.error;
    EXPECT_EQ(shell(clientPath + " frobnicate").status, 64);
}

TEST_F(HelperDaemon, AReplacedOrDeletedExecutableRefusesTheNextConnectionAndEndsTheProcess) {
    for (const char* change : {"cp $H $H.new && mv $H.new $H", "rm $H"}) {
        SCOPED_TRACE(change);
        install(binaryDir() / "com.kelto.Sorvane.Helper", helperPath, 0, 0755, 0);
        RunningHelper helper(true);
        // A session admitted before the change, fed line by line through a fifo.
        const std::string in = "/mnt/run/early.in", out = "/mnt/run/early.out";
        fs::remove(in);
        ASSERT_EQ(::mkfifo(in.c_str(), 0600), 0);
        UniqueFd early(::open(in.c_str(), O_RDWR | O_CLOEXEC));
        shell(clientPath + " session < " + in + " > " + out + " 2>&1 &");
        auto replied = [&](const char* line) {
            return waitFor([&] { return shell("grep -c '\"line\": " + std::string(line) + "' " + out).output == "1\n"; });
        };
        ASSERT_EQ(::write(early.get(), "[\"version\"]\n", 12), 12);
        ASSERT_TRUE(replied("1"));
        // Changed in place (times and mode): still the same file.
        ASSERT_EQ(shell("touch " + helperPath + " && chmod 0700 " + helperPath + " && chmod 0755 " + helperPath).status, 0);
        ASSERT_EQ(shell(clientPath + " version").status, 0);

        ASSERT_EQ(shell("H=" + helperPath + "; " + change).status, 0);
        const auto refused = std::chrono::steady_clock::now();
        EXPECT_EQ(shell(clientPath + " version").status, 69);
        shell(clientPath + " version");  // a second refusal schedules nothing new
        ASSERT_EQ(::write(early.get(), "[\"version\"]\n", 12), 12);
        EXPECT_TRUE(replied("2")) << "admitted before the change, served to the end";
        early.reset();
        // New connections keep arriving: they do not put the end off.
        std::atomic<bool> flooding{true};
        std::vector<std::thread> flood;
        for (int i = 0; i < 4; ++i)
            flood.emplace_back([&] { while (flooding && HelperClient::connect(activatedSocket)) {} });
        const auto status = helper.exitStatus(3s);
        const auto elapsed = std::chrono::steady_clock::now() - refused;
        flooding = false;
        for (auto& thread : flood) thread.join();
        EXPECT_EQ(status, 0);
        EXPECT_GE(elapsed, 150ms);
        // ThreadSanitizer sleeps a second before the process exits.
        EXPECT_LT(elapsed, threadSanitizerBuild ? 2s : 1s);
    }
    install(binaryDir() / "com.kelto.Sorvane.Helper", helperPath, 0, 0755, 0);
}

TEST_F(HelperDaemon, WithoutActivationItMakesItsOwnSocketOverAStaleOne) {
    ASSERT_EQ(::mount("tmpfs", "/run", "tmpfs", 0, "mode=0755"), 0);
    ::unsetenv("SORVANE_HELPER_SOCKET");
    const std::string path = HelperClient::socketPath();
    std::ofstream(path) << "stale";
    {
        RunningHelper helper(false);
        struct stat status;
        ASSERT_EQ(::stat(path.c_str(), &status), 0);
        EXPECT_TRUE(S_ISSOCK(status.st_mode));
        EXPECT_EQ(status.st_mode & 07777, 0666u);
        EXPECT_EQ(shell(clientPath + " --json version").output, "\"1.6\"\n");
    }
    ::umount2("/run", MNT_DETACH);
}

// A request sent in the sandbox reaches nothing of the host: not an item
// below a host folder (this test's own /srv), not a file in the checkout's
// folder, not the helper's socket. The host side is checked from here.
TEST_F(HelperDaemon, ChosenRemovalsInTheSandboxLeaveTheHostAlone) {
    ASSERT_EQ(::mount("tmpfs", "/srv", "tmpfs", 0, "mode=0755"), 0);
    const std::string hostFile = "/srv/kept";
    const std::string buildFile = (binaryDir() / "host-probe").string();
    std::ofstream(hostFile) << "x";
    std::ofstream(buildFile) << "x";

    const auto result = shell(std::string(SORVANE_SOURCE_DIR) + "/script/sandbox --build-dir '" + binaryDir().string() +
                              "' -- env -u SORVANE_HELPER_SOCKET setpriv --reuid=501 --regid=20 --clear-groups sh -c "
                              "'sorvanectl --json remove-chosen \"$@\" && sorvanectl version' sh " +
                              hostFile + " '" + buildFile + "' /run/com.kelto.Sorvane.Helper");
    if (result.status == 77) GTEST_SKIP() << result.error;
    EXPECT_EQ(result.status, 0) << result.error;
    const size_t lineEnd = result.output.find('\n');
    nlohmann::json reply = nlohmann::json::parse(result.output.substr(0, lineEnd), nullptr, false);
    ASSERT_TRUE(reply.is_object()) << result.output;
    // The checkout's file is refused, or fails on the read-only bind, by where
    // the checkout lies; either way it stays.
    EXPECT_TRUE(reply[buildFile].is_string()) << result.output;
    reply.erase(buildFile);
    EXPECT_EQ(reply, (nlohmann::json{{hostFile, "Path is not allowed"},
                                     {"/run/com.kelto.Sorvane.Helper", "Path is not allowed"}}));
    EXPECT_EQ(result.output.substr(lineEnd + 1), "1.6\n") << "the helper still answers";
    EXPECT_TRUE(fs::exists(hostFile));
    EXPECT_TRUE(fs::exists(buildFile));
    fs::remove(buildFile);
    ::umount2("/srv", MNT_DETACH);
}
