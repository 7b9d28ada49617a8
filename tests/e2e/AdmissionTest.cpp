// Who may talk to the helper: only a client whose executable carries the
// application's identity and was installed by root. Anyone else is dropped
// before a single request is served.
#include "platform/admission/PerUserLimit.h"
#include "platform/transport/WireProtocol.h"
#include "support/FileTree.h"
#include "support/HelperProcess.h"
#include "support/SandboxUsers.h"
#include "support/WireClient.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <future>
#include <thread>

using namespace FileTree;
using namespace SandboxUsers;

namespace {

constexpr int unavailable = 69;
const std::string victim = "/Library/Caches/com.example.Victim";
const std::string copies = "/usr/local/libexec/e2e-admission";

gid_t clientGroup() {
    const group* entry = ::getgrnam("sorvane");
    return entry != nullptr ? entry->gr_gid : 0;
}

// Installs a copy of sorvanectl at `path` owned by `owner` and the client
// group, made with `command` when given (run through the shell with $SRC and
// $DST set), else copied byte for byte. Set-group-ID unless `mode` says not.
void installCopy(const std::string& path, uid_t owner, mode_t mode, const std::string& command = "") {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    const std::string make = command.empty() ? "cp \"$SRC\" \"$DST\"" : command;
    const std::string script = "SRC=" + std::string(sorvanectlPath) + " DST='" + path + "'; " + make;
    const ToolRun made = runAs(root, "/bin/sh", {"-c", script});
    ASSERT_EQ(made.status, 0) << made.error;
    ASSERT_EQ(::chown(path.c_str(), owner, clientGroup()), 0);
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

// Whether some process is running the program at `path`.
bool isRunning(const std::string& path) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        if (std::filesystem::read_symlink(entry.path() / "exe", error) == path) return true;
    }
    return false;
}

double secondsOf(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct ClientCase {
    const char* name;
    std::function<void()> install;
    std::string program;
    User user;
};

TEST(Admission, ClientsWithoutTheIdentityOrNotInstalledByRootAreDroppedBeforeAnyRequest) {
    const std::string otherTeam =
        R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict>)"
        R"(<key>CFBundleIdentifier</key><string>com.kelto.Sorvane</string>)"
        R"(<key>TeamIdentifier</key><string>AAAAAAAAAA</string></dict></plist>)";
    makeFile("/usr/local/libexec/other-team.plist", otherTeam);
    const std::vector<ClientCase> cases = {
        {"no __info_plist section",
         [] { installCopy(copies + "/no-identity", 0, 02755, "objcopy --remove-section __info_plist \"$SRC\" \"$DST\""); },
         copies + "/no-identity", root},
        {"another team's identity",
         [] {
             installCopy(copies + "/other-team", 0, 02755,
                         "objcopy --update-section __info_plist=/usr/local/libexec/other-team.plist \"$SRC\" \"$DST\"");
         },
         copies + "/other-team", root},
        {"a copy owned by ann", [] { installCopy(copies + "/owned-by-ann", ann.uid, 02755); }, copies + "/owned-by-ann",
         ann},
        {"a group-writable copy", [] { installCopy(copies + "/group-writable", 0, 02775); }, copies + "/group-writable",
         root},
        {"an other-writable copy", [] { installCopy(copies + "/other-writable", 0, 02757); }, copies + "/other-writable",
         root},
        {"a copy that is not set-group-ID", [] { installCopy(copies + "/plain", 0, 0755); }, copies + "/plain", ann},
        {"a copy in ann's Desktop", [] { installCopy("/Users/ann/Desktop/sorvanectl", 0, 02755); },
         "/Users/ann/Desktop/sorvanectl", ann},
        {"a copy in a group-writable folder",
         [] {
             installCopy("/usr/local/libexec/e2e-open/sorvanectl", 0, 02755);
             ::chmod("/usr/local/libexec/e2e-open", 0775);
         },
         "/usr/local/libexec/e2e-open/sorvanectl", root},
        {"a copy in a sticky world-writable folder",
         [] { installCopy("/private/tmp/sorvanectl", 0, 02755); }, "/private/tmp/sorvanectl", root},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.install();
        makeFile(victim, "still here");
        const ToolRun version = ctl(c.user, {"version"}, c.program);
        EXPECT_EQ(version.status, unavailable) << version.output;
        const ToolRun removal = ctl(c.user, {"remove", victim}, c.program);
        EXPECT_EQ(removal.status, unavailable) << removal.output;
        EXPECT_EQ(readFile(victim), "still here");
    }
    // The same bytes, installed properly, are admitted.
    installCopy(copies + "/good", 0, 02755);
    const ToolRun good = ctl(ann, {"version"}, copies + "/good");
    EXPECT_EQ(good.status, 0) << good.error;
    EXPECT_EQ(good.reply, "1.6");
}

TEST(Admission, AProgramWithoutTheIdentitySpeakingTheProtocolIsDropped) {
    makeFile(victim, "still here");
    // python3 carries no client identity; it sends a well-formed removal request.
    const std::string client = R"(
import plistlib, socket, struct, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
s.connect("/var/run/com.kelto.Sorvane.Helper")
body = plistlib.dumps({"id": 1, "selector": "removeItemsAtPaths:toTrash:reply:",
                       "arguments": [[sys.argv[1]], False]}, fmt=plistlib.FMT_BINARY)
try:
    s.sendall(struct.pack(">I", len(body)) + body)
    s.settimeout(10)
    print("reply" if s.recv(4) else "closed")
except (BrokenPipeError, ConnectionResetError):
    print("closed")
)";
    const ToolRun run = runAs(root, "/usr/bin/python3", {"-c", client, victim});
    EXPECT_EQ(run.status, 0) << run.error;
    EXPECT_EQ(run.output, "closed\n");
    EXPECT_EQ(readFile(victim), "still here");
}

TEST(Admission, ExecutableBombsAreRefusedWithinBoundsWhileOthersAreServed) {
    // One 64 KiB string that the binary list refers to 6,000 times.
    const std::string sharedString = R"(
import plistlib, sys
plist = {"CFBundleIdentifier": "com.kelto.Sorvane", "TeamIdentifier": "Q7LM3XZ2RB", "Padding": ["x" * 65536] * 6000}
open(sys.argv[1], "wb").write(plistlib.dumps(plist, fmt=plistlib.FMT_BINARY))
)";
    // An ELF header that counts its sections in section 0 (4,000,000 of
    // them), its table at the end of a sparse file large enough to hold it.
    const std::string manySections = R"(
import os, struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
table = (len(data) + 63) & ~63
struct.pack_into("<Q", data, 0x28, table)
struct.pack_into("<H", data, 0x3C, 0)
data += bytes(table - len(data)) + struct.pack("<IIQQQQIIQQ", 0, 0, 0, 0, 0, 4000000, 0, 0, 0, 0)
open(sys.argv[2], "wb").write(data)
os.truncate(sys.argv[2], table + 4000000 * 64)
)";
    makeFile("/usr/local/libexec/shared-string.py", sharedString);
    makeFile("/usr/local/libexec/many-sections.py", manySections);
    const std::string withSharedString =
        "python3 /usr/local/libexec/shared-string.py /usr/local/libexec/bomb.plist && "
        "objcopy --update-section __info_plist=/usr/local/libexec/bomb.plist \"$SRC\" \"$DST\"";
    const std::string withManySections = "python3 /usr/local/libexec/many-sections.py \"$SRC\" \"$DST\"";
    const struct {
        const char* name;
        std::string command;
        uid_t owner;
    } bombs[] = {
        {"a shared string, ann's program", withSharedString, ann.uid},
        {"a shared string, installed by root", withSharedString, 0},
        {"4,000,000 sections, ann's program", withManySections, ann.uid},
        {"4,000,000 sections, installed by root", withManySections, 0},
    };
    const pid_t helper = helperPid();
    ASSERT_GT(helper, 0);
    for (const auto& bomb : bombs) {
        SCOPED_TRACE(bomb.name);
        const std::string program = copies + "/bomb";
        installCopy(program, bomb.owner, 02755, bomb.command);
        const long before = HelperProcess::of(helper).peakKiB;
        std::vector<std::future<ToolRun>> runs;
        for (int i = 0; i < 4; ++i) runs.push_back(std::async(std::launch::async, [&] { return ctl(ann, {"version"}, program); }));
        ToolRun other;
        const double seconds = secondsOf([&] { other = ctl(bob, {"version"}); });
        for (auto& run : runs) EXPECT_EQ(run.get().status, unavailable);
        EXPECT_EQ(other.reply, "1.6") << other.error;
        const long grown = HelperProcess::of(helper).peakKiB - before;
        std::printf("admission: %s: helper peak +%ld KiB, bob's version %.2f s\n", bomb.name, grown, seconds);
        EXPECT_LE(grown, HelperProcess::churnToleranceKiB(32 * 1024));
        std::filesystem::remove(program);
    }
}

TEST(Admission, APreloadedLibraryAndAConnectThenExecHandOffAreNotServed) {
    const std::string log = "/Users/ann/preload.log";
    const std::string frame = "/Users/ann/version.frame";
    makeFile(frame, Wire::encodeRequest({1, Wire::Selector::version, {}}), {ann.uid, ann.gid}, 0644);
    // Records that it ran, then asks the helper for its version on its own.
    makeFile("/usr/local/libexec/preload.c", R"(
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
__attribute__((constructor)) static void speak(void) {
    int log = open(")" + log + R"(", O_WRONLY | O_APPEND | O_CREAT, 0644);
    write(log, "ran\n", 4);
    char frame[4096], reply[4];
    int in = open(")" + frame + R"(", O_RDONLY);
    ssize_t n = read(in, frame, sizeof frame);
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    struct sockaddr_un address = {AF_UNIX, "/var/run/com.kelto.Sorvane.Helper"};
    if (connect(fd, (struct sockaddr*)&address, sizeof address) == 0 && write(fd, frame, n) == n &&
        read(fd, reply, 4) == 4)
        write(log, "served\n", 7);
}
)");
    const ToolRun built = runAs(root, "/usr/bin/cc", {"-shared", "-fPIC", "-o", "/usr/local/lib/preload.so",
                                                      "/usr/local/libexec/preload.c"});
    ASSERT_EQ(built.status, 0) << built.error;
    const struct {
        const char* program;
        std::string logged;  // the client runs in secure-execution mode: no preload at all
    } preloads[] = {{"/usr/bin/true", "ran\n"}, {sorvanectlPath, ""}};
    for (const auto& preload : preloads) {
        SCOPED_TRACE(preload.program);
        std::filesystem::remove(log);
        const ToolRun run = runAs(ann, "/usr/bin/env", {"LD_PRELOAD=/usr/local/lib/preload.so", preload.program, "version"});
        EXPECT_EQ(std::filesystem::exists(log) ? readFile(log) : "", preload.logged);
    }

    // A process that connects with its own group and then becomes the client,
    // while a child it forked keeps the socket. The helper is held still until
    // the exec has happened, so what it judges is the client program.
    const std::string handOff = R"(
import os, socket, sys, time
s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
s.connect("/var/run/com.kelto.Sorvane.Helper")
done, holding = os.pipe()
if os.fork() == 0:
    time.sleep(1)
    s.settimeout(10)
    try:
        s.sendall(open(sys.argv[1], "rb").read())
        print("served" if s.recv(4) else "closed")
    except OSError:
        print("closed")
    sys.exit(0)
# The client lives until the child is done with the socket.
os.dup2(done, 0)
os.close(holding)
os.execv(sys.argv[2], [sys.argv[2], "session"])
)";
    const pid_t helper = helperPid();
    ASSERT_GT(helper, 0);
    ASSERT_EQ(::kill(helper, SIGSTOP), 0);
    auto run = std::async(std::launch::async, [&] { return runAs(ann, "/usr/bin/python3", {"-c", handOff, frame, sorvanectlPath}); });
    for (int waited = 0; waited < 100 && !isRunning(sorvanectlPath); ++waited) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_EQ(::kill(helper, SIGCONT), 0);
    const ToolRun handed = run.get();
    EXPECT_NE(handed.output.find("closed"), std::string::npos) << handed.output << handed.error;
    EXPECT_EQ(handed.output.find("served"), std::string::npos);
}

TEST(Admission, OneUsersConnectionsAreLimitedAndCostOthersNothing) {
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // As ann: the connections up to the limit stay open and idle, the next is closed at once.
        ::close(report[0]);
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
        if (::write(report[1], "r", 1) != 1) ::_exit(2);
        // Meanwhile, as many attempts again as fast as they go.
        for (int i = 0; i < 3000; ++i) WireClient::connect();
        held.clear();
        ::_exit(overClosed && othersOpen ? 0 : 1);
    }
    ::close(report[1]);
    char byte = 0;
    ASSERT_EQ(::read(report[0], &byte, 1), 1);
    ::close(report[0]);
    ToolRun other;
    const double seconds = secondsOf([&] { other = ctl(bob, {"version"}); });
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0) << "ann's connection over the limit was not closed at once, or one within it was";
    EXPECT_EQ(other.reply, "1.6") << other.error;
    std::printf("admission: bob's version with ann at her limit: %.2f s\n", seconds);
    EXPECT_LT(seconds, 2.0);
    // Her connections, once the helper has seen them close, count no more.
    ToolRun again;
    for (int attempt = 0; attempt < 50 && again.reply != "1.6"; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        again = ctl(ann, {"version"});
    }
    EXPECT_EQ(again.reply, "1.6") << again.error;
}

}  // namespace
