// Running launchctl (a /bin/sh stand-in here): only the verbs of a change or a
// lookup start a process, and the child's run comes back as it happened.
#include "helper/Launchctl.h"
#include "support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace Helper;

namespace {

using Arguments = std::vector<std::string>;

struct LaunchctlRunner : testing::Test {
    ScratchFolder folder;
    std::string script(const std::string& body) {
        std::ofstream(folder / "launchctl") << "#!/bin/sh\n" << body << "\n";
        EXPECT_EQ(::chmod((folder / "launchctl").c_str(), 0700), 0);
        return folder / "launchctl";
    }
};

TEST_F(LaunchctlRunner, OnlyTheAllowedVerbsRunWithTheirArgumentsUnchanged) {
    const std::string exe = script(R"(printf '[%s]' "$@"; touch "${0%/*}/ran")");
    // clang-format off
    const std::pair<Arguments, LaunchctlResult> cases[] = {
        {{"print"}, {0, "[print]", ""}}, {{"enable", "gui/501/a"}, {0, "[enable][gui/501/a]", ""}},
        {{"disable", "system/x"}, {0, "[disable][system/x]", ""}},
        {{"bootstrap", "system", "/L/a b.plist"}, {0, "[bootstrap][system][/L/a b.plist]", ""}},
        {{"bootout", "system/x", "$HOME", "*", ""}, {0, "[bootout][system/x][$HOME][*][]", ""}},
        {{}, {-1, "", "Not allowed"}}, {{"Print"}, {-1, "", "Not allowed"}}, {{"print "}, {-1, "", "Not allowed"}},
        {{"kickstart", "-k", "system/x"}, {-1, "", "Not allowed"}},
    };
    // clang-format on
    for (const auto& [arguments, expected] : cases) {
        std::filesystem::remove(folder / "ran");
        EXPECT_EQ(runLaunchctlAt(exe, arguments), expected) << testing::PrintToString(arguments);
        EXPECT_EQ(std::filesystem::exists(folder / "ran"), expected.status == 0) << testing::PrintToString(arguments);
    }
}

TEST_F(LaunchctlRunner, StatusesAndStreams) {
    // clang-format off
    const std::tuple<const char*, LaunchctlResult> cases[] = {
        {"echo out; echo err >&2; exit 3", {3, "out\n", "err\n"}},
        {R"(printf 'a\377b\300'; printf '\355\240\200' >&2; exit 1)", {1, "a\uFFFDb\uFFFD", "\uFFFD\uFFFD\uFFFD"}},
        {"echo before; kill -9 $$", {9, "before\n", ""}},
        // A large error stream before any output does not stall the run.
        {"head -c 4194304 /dev/zero | tr '\\0' e >&2; echo done; exit 2", {2, "done\n", std::string(4194304, 'e')}},
    };
    // clang-format on
    for (const auto& [body, expected] : cases) EXPECT_EQ(runLaunchctlAt(script(body), {"print"}), expected) << body;
    EXPECT_EQ(runLaunchctlAt(folder / "missing", {"print"}), (LaunchctlResult{-1, "", "No such file or directory"}));
    EXPECT_EQ(runLaunchctlAt(script("exit 0"), {"print", std::string("a\0b", 3)}).status, -1);
}

// A helper that ignores SIGPIPE must not hand that on: the child dies of it.
TEST_F(LaunchctlRunner, ChildStartsWithDefaultSignalActions) {
    const auto previous = std::signal(SIGPIPE, SIG_IGN);
    const int status = runLaunchctlAt(script("kill -PIPE $$; exit 0"), {"print"}).status;
    std::signal(SIGPIPE, previous);
    EXPECT_EQ(status, SIGPIPE);
}

}  // namespace
