#include "helper/Launchctl.h"
#include "platform/os/ChildProcess.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace Helper;

namespace {

namespace fs = std::filesystem;
using Arguments = std::vector<std::string>;

// A temporary folder holding /bin/sh scripts that stand in for launchctl.
class LaunchctlRunner : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "launchctl-test.XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder = pattern;
    }
    void TearDown() override { fs::remove_all(folder); }

    std::string script(const std::string& name, const std::string& body) {
        fs::path path = folder / name;
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        fs::permissions(path, fs::perms::owner_all);
        return path.string();
    }

    fs::path folder;
};

TEST_F(LaunchctlRunner, RefusedCommandsStartNoProcess) {
    std::string marker = (folder / "ran").string();
    std::string exe = script("launchctl", "touch '" + marker + "'");
    const Arguments refused[] = {{}, {"Print"}, {"BOOTOUT", "system/x"}, {"kickstart", "-k", "system/x"},
                                 {"remove"}, {" print"}, {"print "}, {""}};
    for (const auto& arguments : refused) {
        EXPECT_EQ(runLaunchctlAt(exe, arguments), (LaunchctlResult{-1, "", "Not allowed"}))
            << (arguments.empty() ? "(empty)" : arguments.front());
    }
    EXPECT_FALSE(fs::exists(marker));
}

TEST_F(LaunchctlRunner, AllowedVerbsRunWithTheirArgumentsUnchanged) {
    std::string exe = script("launchctl", R"(printf '[%s]' "$@")");
    const Arguments allowed[] = {
        {"print"},
        {"enable", "gui/501/com.example.job"},
        {"disable", "system/x"},
        {"bootstrap", "system", "/Library/LaunchDaemons/a b.plist"},
        {"bootout", "system/x", "--anything", "$HOME", "*", ""},
    };
    for (const auto& arguments : allowed) {
        std::string expected;
        for (const auto& a : arguments) expected += "[" + a + "]";
        EXPECT_EQ(runLaunchctlAt(exe, arguments), (LaunchctlResult{0, expected, ""})) << arguments.front();
    }
}

TEST_F(LaunchctlRunner, StatusesAndStreams) {
    const std::tuple<const char*, const char*, LaunchctlResult> cases[] = {
        {"exit status", "echo out; echo err >&2; exit 3", {3, "out\n", "err\n"}},
        {"texts are not trimmed", "printf '  x \\n\\n'; printf '\\t' >&2", {0, "  x \n\n", "\t"}},
        {"ill-formed UTF-8", R"(printf 'a\377b\300'; printf '\355\240\200' >&2; exit 1)",
         {1, "a\uFFFDb\uFFFD", "\uFFFD\uFFFD\uFFFD"}},
        {"killed by SIGKILL", "echo before; kill -9 $$", {9, "before\n", ""}},
        {"a large error stream before any output does not stall",
         "head -c 4194304 /dev/zero | tr '\\0' e >&2; echo done; exit 2", {2, "done\n", std::string(4194304, 'e')}},
    };
    for (const auto& [name, body, expected] : cases)
        EXPECT_EQ(runLaunchctlAt(script("launchctl", body), {"print"}), expected) << name;
    EXPECT_EQ(runLaunchctlAt((folder / "missing").string(), {"print"}), (LaunchctlResult{-1, "", "No such file or directory"}));
    std::string notExecutable = script("plain", "exit 0");
    fs::permissions(notExecutable, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(runLaunchctlAt(notExecutable, {"print"}), (LaunchctlResult{-1, "", "Permission denied"}));
    auto withNul = ChildProcess::run(notExecutable, {std::string("a\0b", 3)}, ChildProcess::Streams::separate);
    EXPECT_FALSE(withNul.launched);
    auto merged = ChildProcess::run(script("tool", "echo one; echo two >&2; echo three"), {}, ChildProcess::Streams::merged);
    EXPECT_EQ(merged.output, "one\ntwo\nthree\n");
}

TEST_F(LaunchctlRunner, ChildStartsWithDefaultSignalActions) {
    // A helper that ignores SIGPIPE must not hand that on: the child dies of it.
    std::string exe = script("launchctl", "kill -PIPE $$; exit 0");
    struct sigaction ignore {}, previous {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGPIPE, &ignore, &previous), 0);
    sigset_t blocked, old;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &blocked, &old), 0);

    LaunchctlResult piped = runLaunchctlAt(exe, {"print"});
    LaunchctlResult termed = runLaunchctlAt(script("launchctl", "kill -TERM $$; exit 0"), {"print"});

    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    ::sigaction(SIGPIPE, &previous, nullptr);
    EXPECT_EQ(piped.status, SIGPIPE);
    EXPECT_EQ(termed.status, SIGTERM);
}

}  // namespace
