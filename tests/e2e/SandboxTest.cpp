// The macOS-shaped sandbox that the other end-to-end tests stand on: one
// device for the Mac folders, separate volumes, the users, and the recording
// stand-ins for launchctl and tccutil.
#include "support/FileTree.h"
#include "support/SandboxUsers.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

using namespace FileTree;
using namespace SandboxUsers;

namespace {

dev_t deviceOf(const char* path) {
    struct stat st {};
    EXPECT_EQ(::stat(path, &st), 0) << path;
    return st.st_dev;
}

TEST(Sandbox, MacFoldersShareOneDeviceAndVolumesHaveTheirOwn) {
    const dev_t startup = deviceOf("/");
    for (const char* path : {"/Library/Caches", "/Users/ann", "/Users/Shared", "/Applications", "/System/Library",
                             "/private/var/folders", "/Library/PrivilegedHelperTools"}) {
        EXPECT_EQ(deviceOf(path), startup) << path;
    }
    EXPECT_NE(deviceOf("/usr/local/lib"), startup);
    EXPECT_NE(deviceOf("/Volumes/Backup"), startup);
    EXPECT_NE(deviceOf("/Volumes/Backup"), deviceOf("/usr/local/lib"));
    char target[16] = {};
    EXPECT_EQ(::readlink("/Volumes/Macintosh HD", target, sizeof target - 1), 1);
    EXPECT_STREQ(target, "/");
    EXPECT_EQ(permissionsOf("/private/tmp"), 01777u);
    const group* clientGroup = ::getgrnam("sorvane");
    ASSERT_NE(clientGroup, nullptr);
    EXPECT_EQ(clientGroup->gr_mem[0], nullptr) << "a group nobody belongs to";
    EXPECT_EQ(ownerOf("/usr/local/bin/sorvanectl"), (Owner{0, clientGroup->gr_gid}));
    EXPECT_EQ(permissionsOf("/usr/local/bin/sorvanectl"), 02755u);
}

TEST(Sandbox, UsersAndHomesLookAsOnAMac) {
    struct Expected {
        const char* name;
        uid_t uid;
        gid_t gid;
        const char* home;
    };
    for (const Expected& user : {Expected{"root", 0, 0, "/var/root"}, Expected{"ann", 501, 20, "/Users/ann"},
                                 Expected{"bob", 502, 20, "/Users/bob"}, Expected{"nohome", 503, 20, "/var/empty"}}) {
        const passwd* entry = ::getpwuid(user.uid);
        ASSERT_NE(entry, nullptr) << user.name;
        EXPECT_STREQ(entry->pw_name, user.name);
        EXPECT_EQ(entry->pw_gid, user.gid);
        EXPECT_STREQ(entry->pw_dir, user.home);
    }
    const group* staff = ::getgrgid(20);
    ASSERT_NE(staff, nullptr);
    EXPECT_STREQ(staff->gr_name, "staff");
    for (const char* home : {"/Users/ann", "/Users/bob"}) {
        const uid_t uid = std::string(home) == "/Users/ann" ? 501 : 502;
        EXPECT_EQ(ownerOf(home), (Owner{uid, 20}));
        EXPECT_EQ(permissionsOf(home), 0750u);
        for (const char* folder : {"Desktop", "Documents", "Downloads", "Library/Caches", "Library/Preferences",
                                   "Library/Application Support", "Library/Containers"}) {
            EXPECT_EQ(ownerOf(std::string(home) + "/" + folder), (Owner{uid, 20})) << home << "/" << folder;
        }
    }
}

struct ToolCase {
    const char* name;
    const char* tool;
    std::string rules;
    std::vector<std::string> arguments;
    int status;  // exit status, or the signal number
    std::string output, error;
    User user = root;
};

TEST(Sandbox, TheStandInToolsRecordEveryRunAndAnswerFromTheirRules) {
    const std::vector<ToolCase> cases = {
        {"no rules: silent success", "launchctl", "", {"print", "system/x"}, 0, "", ""},
        {"a matching verb", "launchctl", "print\t3\tone\\ntwo\terr\xff\n", {"print", "x"}, 3, "one\ntwo", "err\xff"},
        {"the first matching line wins", "launchctl", "enable\t1\ta\t\n*\t2\tb\t\nenable\t3\tc\t\n", {"enable", "x"}, 1,
         "a", ""},
        {"a star matches the rest", "launchctl", "enable\t1\ta\t\n*\t2\tb\t\n", {"bootout", "x"}, 2, "b", ""},
        {"no line matches", "launchctl", "enable\t1\ta\t\n", {"disable", "x"}, 0, "", ""},
        {"kill ends the tool with SIGKILL", "launchctl", "*\tkill\tgone\t\n", {"bootstrap"}, SIGKILL, "gone", ""},
        {"a delay still answers", "tccutil", "reset\t0\tdone\t\t0.05\n", {"reset", "Camera", "com.example.app"}, 0,
         "done", ""},
        {"a run by another user is recorded with that user's id", "launchctl", "", {"list"}, 0, "", "", ann},
    };
    std::string calls;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string rules = std::string("/var/run/sandbox/") + c.tool + ".rules";
        ::unlink(rules.c_str());
        if (!c.rules.empty()) makeFile(rules, c.rules);
        const ToolRun run = runAs(c.user, std::string(c.tool == std::string("tccutil") ? "/usr/bin/" : "/bin/") + c.tool,
                                  c.arguments);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.output, c.output);
        EXPECT_EQ(run.error, c.error);
        calls += nlohmann::json{{"tool", c.tool}, {"args", c.arguments}, {"euid", c.user.uid}}.dump() + "\n";
        ::unlink(rules.c_str());
    }
    std::istringstream recorded(readFile("/var/run/sandbox/calls.jsonl"));
    std::string recordedCalls, line;
    while (std::getline(recorded, line)) recordedCalls += nlohmann::json::parse(line).dump() + "\n";
    EXPECT_EQ(recordedCalls, calls);
}

// The helper holds itself, and every tool it starts, to the folders requests
// may change. With the stand-ins' state moved into /run (a Linux host folder),
// a tool started by the helper still runs but cannot record its run there; the
// same tool started here can.
TEST(Sandbox, ToolsTheHelperStartsCannotWriteAHostFolder) {
    struct StateInRun {
        const std::string state = "/run/sandbox", aside = "/run/sandbox.moved";
        StateInRun() {
            EXPECT_EQ(::rename(state.c_str(), aside.c_str()), 0);
            makeFile(state + "/calls.jsonl", "", {}, 0666);
        }
        ~StateInRun() {
            removeAll(state);
            ::rename(aside.c_str(), state.c_str());
        }
    } moved;
    const std::string calls = moved.state + "/calls.jsonl";
    EXPECT_EQ(ctl(ann, {"reset-privacy", "--", "Camera", "com.example.App"}).reply, nullptr);
    EXPECT_EQ(readFile(calls), "") << "started by the helper";
    EXPECT_EQ(runAs(root, "/usr/bin/tccutil", {"reset", "Camera", "com.example.App"}).status, 0);
    EXPECT_NE(readFile(calls), "") << "started here";
}

}  // namespace
