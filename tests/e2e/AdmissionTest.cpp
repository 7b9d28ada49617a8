// Who may talk to the helper: only a client whose executable carries the
// application's identity and was installed by root. Anyone else is dropped
// before a single request is served.
#include "support/FileTree.h"
#include "support/SandboxUsers.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

using namespace FileTree;
using namespace SandboxUsers;

namespace {

constexpr int unavailable = 69;
const std::string victim = "/Library/Caches/com.example.Victim";
const std::string copies = "/usr/local/libexec/e2e-admission";

// Installs a copy of sorvanectl at `path`, made with `command` when given
// (run through the shell with $SRC and $DST set), else copied byte for byte.
void installCopy(const std::string& path, Owner owner, mode_t mode, const std::string& command = "") {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    const std::string make = command.empty() ? "cp \"$SRC\" \"$DST\"" : command;
    const std::string script = "SRC=" + std::string(sorvanectlPath) + " DST='" + path + "'; " + make;
    const ToolRun made = runAs(root, "/bin/sh", {"-c", script});
    ASSERT_EQ(made.status, 0) << made.error;
    ASSERT_EQ(::chown(path.c_str(), owner.uid, owner.gid), 0);
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
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
         [] { installCopy(copies + "/no-identity", {}, 0755, "objcopy --remove-section __info_plist \"$SRC\" \"$DST\""); },
         copies + "/no-identity", root},
        {"another team's identity",
         [] {
             installCopy(copies + "/other-team", {}, 0755,
                         "objcopy --update-section __info_plist=/usr/local/libexec/other-team.plist \"$SRC\" \"$DST\"");
         },
         copies + "/other-team", root},
        {"a copy owned by ann", [] { installCopy(copies + "/owned-by-ann", {501, 20}, 0755); }, copies + "/owned-by-ann",
         ann},
        {"a group-writable copy", [] { installCopy(copies + "/group-writable", {}, 0775); }, copies + "/group-writable",
         root},
        {"an other-writable copy", [] { installCopy(copies + "/other-writable", {}, 0757); }, copies + "/other-writable",
         root},
        {"a copy in ann's Desktop", [] { installCopy("/Users/ann/Desktop/sorvanectl", {}, 0755); },
         "/Users/ann/Desktop/sorvanectl", ann},
        {"a copy in a group-writable folder",
         [] {
             installCopy("/usr/local/libexec/e2e-open/sorvanectl", {}, 0755);
             ::chmod("/usr/local/libexec/e2e-open", 0775);
         },
         "/usr/local/libexec/e2e-open/sorvanectl", root},
        {"a copy in a sticky world-writable folder",
         [] { installCopy("/private/tmp/sorvanectl", {}, 0755); }, "/private/tmp/sorvanectl", root},
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
    installCopy(copies + "/good", {}, 0755);
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

}  // namespace
