// Who may talk to the helper: only a client whose executable carries the
// application's identity and was installed by root, and no more connections
// of one user than the limit. Anyone else is dropped before a single request
// is served.
#include "platform/admission/PerUserLimit.h"
#include "platform/transport/FrameStream.h"
#include "platform/transport/WireProtocol.h"
#include "support/FileTree.h"
#include "support/HelperProcess.h"
#include "support/SandboxUsers.h"
#include "support/WireClient.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

using namespace FileTree;
using namespace SandboxUsers;

namespace {

constexpr int unavailable = 69;
const std::string victim = "/Library/Caches/com.example.Victim";
const std::string copies = "/usr/local/libexec/e2e-admission/";

// Installs a copy of sorvanectl at `path` owned by `owner` and the client
// group, made with `command` (run by the shell with $SRC and $DST set).
void installCopy(const std::string& path, uid_t owner, mode_t mode,
                 const std::string& command = "cp \"$SRC\" \"$DST\"") {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    const ToolRun made =
        runAs(root, "/bin/sh", {"-c", "SRC=" + std::string(sorvanectlPath) + " DST='" + path + "'; " + command});
    ASSERT_EQ(made.status, 0) << made.error;
    const group* clients = ::getgrnam("sorvane");
    ASSERT_TRUE(clients);
    ASSERT_EQ(::chown(path.c_str(), owner, clients->gr_gid), 0);
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

TEST(Admission, ClientsWithoutTheIdentityOrNotInstalledByRootAreDroppedBeforeAnyRequest) {
    makeFile("/usr/local/libexec/other-team.plist",
             R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict>)"
             R"(<key>CFBundleIdentifier</key><string>com.kelto.Sorvane</string>)"
             R"(<key>TeamIdentifier</key><string>AAAAAAAAAA</string></dict></plist>)");
    const std::string cp = "cp \"$SRC\" \"$DST\"";
    const struct {
        const char* what;
        std::string path;
        uid_t owner;
        mode_t mode;
        std::string command;
        User user;
    } cases[] = {
        {"no identity", copies + "none", 0, 02755, "objcopy --remove-section __info_plist \"$SRC\" \"$DST\"", root},
        {"another team's identity", copies + "other-team", 0, 02755,
         "objcopy --update-section __info_plist=/usr/local/libexec/other-team.plist \"$SRC\" \"$DST\"", root},
        {"owned by ann", copies + "ann", ann.uid, 02755, cp, ann},
        {"group-writable", copies + "group-writable", 0, 02775, cp, root},
        {"other-writable", copies + "other-writable", 0, 02757, cp, root},
        {"not set-group-ID", copies + "plain", 0, 0755, cp, ann},
        {"in ann's Desktop", "/Users/ann/Desktop/sorvanectl", 0, 02755, cp, ann},
        {"in a group-writable folder", "/usr/local/libexec/e2e-open/sorvanectl", 0, 02755,
         cp + " && chmod 0775 \"$(dirname \"$DST\")\"", root},
        {"in a sticky world-writable folder", "/private/tmp/sorvanectl", 0, 02755, cp, root},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        installCopy(c.path, c.owner, c.mode, c.command);
        makeFile(victim, "still here");
        EXPECT_EQ(ctl(c.user, {"version"}, c.path).status, unavailable);
        EXPECT_EQ(ctl(c.user, {"remove", victim}, c.path).status, unavailable);
        EXPECT_EQ(readFile(victim), "still here");
    }
    // The same bytes, installed properly, are admitted.
    installCopy(copies + "good", 0, 02755);
    const ToolRun good = ctl(ann, {"version"}, copies + "good");
    EXPECT_EQ(good.reply, "1.6") << good.error;
}

TEST(Admission, ExecutableBombsAreRefusedWithinBoundsWhileOthersAreServed) {
    // One 64 KiB string that the property list refers to 6,000 times.
    makeFile("/usr/local/libexec/shared-string.py", R"(
import plistlib, sys
plist = {"CFBundleIdentifier": "com.kelto.Sorvane", "TeamIdentifier": "Q7LM3XZ2RB", "Padding": ["x" * 65536] * 6000}
open(sys.argv[1], "wb").write(plistlib.dumps(plist, fmt=plistlib.FMT_BINARY))
)");
    // An ELF header that counts its sections in section 0 (4,000,000 of
    // them), its table at the end of a sparse file large enough to hold it.
    makeFile("/usr/local/libexec/many-sections.py", R"(
import os, struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
table = (len(data) + 63) & ~63
struct.pack_into("<Q", data, 0x28, table)
struct.pack_into("<H", data, 0x3C, 0)
data += bytes(table - len(data)) + struct.pack("<IIQQQQIIQQ", 0, 0, 0, 0, 0, 4000000, 0, 0, 0, 0)
open(sys.argv[2], "wb").write(data)
os.truncate(sys.argv[2], table + 4000000 * 64)
)");
    // clang-format off
    const std::pair<const char*, std::string> bombs[] = {
        {"a shared string",
         "python3 /usr/local/libexec/shared-string.py /usr/local/libexec/bomb.plist && "
         "objcopy --update-section __info_plist=/usr/local/libexec/bomb.plist \"$SRC\" \"$DST\""},
        {"4,000,000 sections", "python3 /usr/local/libexec/many-sections.py \"$SRC\" \"$DST\""},
    };
    // clang-format on
    const pid_t helper = helperPid();
    ASSERT_GT(helper, 0);
    for (const auto& [what, command] : bombs) {
        SCOPED_TRACE(what);
        installCopy(copies + "bomb", 0, 02755, command);
        const long before = HelperProcess::of(helper).peakKiB;
        std::vector<std::future<ToolRun>> runs;
        for (int i = 0; i < 3; ++i)
            runs.push_back(std::async(std::launch::async, [&] { return ctl(ann, {"version"}, copies + "bomb"); }));
        EXPECT_EQ(ctl(bob, {"version"}).reply, "1.6");
        for (auto& run : runs) EXPECT_EQ(run.get().status, unavailable);
        EXPECT_LE(HelperProcess::of(helper).peakKiB - before, HelperProcess::churnToleranceKiB(32 * 1024));
    }
}

// What counts is the group a peer connected with, as a process that connects
// and then execs the set-group-ID client would find: one that connects with
// ann's group and then takes the client's is refused. The helper is held still
// meanwhile, so that it judges the peer as it is afterwards.
TEST(Admission, TheGroupAPeerConnectedWithCountsNotOneTakenAfterwards) {
    const gid_t clientGroup = ::getegid();
    const pid_t helper = helperPid();
    ASSERT_GT(helper, 0);
    ASSERT_EQ(::kill(helper, SIGSTOP), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        UniqueFd fd;
        if (::setegid(ann.gid) != 0 || !(fd = WireClient::connect()) || ::setegid(clientGroup) != 0) ::_exit(2);
        ::kill(helper, SIGCONT);
        FrameStream::Reader reader(fd.get());
        std::string body;  // a refused peer's connection ends unanswered
        const bool served = FrameStream::writeAll(fd.get(), Wire::encodeRequest({1, Wire::Selector::version, {}})) &&
                            reader.next(body) == FrameStream::ReadStatus::frame;
        ::_exit(served ? 1 : 0);
    }
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    ::kill(helper, SIGCONT);
    EXPECT_EQ(status, 0) << "served, or the groups could not be switched";
}

TEST(Admission, OneUsersConnectionsAreLimitedAndCostOthersNothing) {
    int report[2];
    ASSERT_EQ(::pipe2(report, O_CLOEXEC), 0);
    UniqueFd reading(report[0]), writing(report[1]);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // As ann: the connections up to the limit stay open and idle, the next is closed at once.
        if (!WireClient::becomeUser(ann)) ::_exit(2);
        std::vector<UniqueFd> held;
        for (std::size_t i = 0; i <= PerUserLimit::limit; ++i) held.push_back(WireClient::connect());
        pollfd over{held.back().get(), POLLIN, 0};
        char byte = 0;
        const bool overClosed = ::poll(&over, 1, 5000) == 1 && ::read(over.fd, &byte, 1) == 0;
        held.pop_back();
        std::vector<pollfd> open;
        for (const auto& fd : held) open.push_back({fd.get(), POLLIN, 0});
        const bool othersOpen = ::poll(open.data(), open.size(), 1000) == 0;
        if (::write(writing.get(), "r", 1) != 1) ::_exit(2);
        for (int i = 0; i < 500; ++i) WireClient::connect();  // meanwhile, more attempts as fast as they go
        ::_exit(overClosed && othersOpen ? 0 : 1);
    }
    writing = UniqueFd();
    char byte = 0;
    ASSERT_EQ(::read(reading.get(), &byte, 1), 1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ctl(bob, {"version"}).reply, "1.6");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0) << "ann's connection over the limit was not closed at once, or one within it was";
    // Her connections, once the helper has seen them close, count no more.
    int attempts = 0;
    while (ctl(ann, {"version"}).reply != "1.6" && ++attempts < 50)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_LT(attempts, 50);
}

}  // namespace
