// The kernel holds a confined process to the folders requests may change,
// whatever it attempts.
#include "platform/os/Confinement.h"
#include "support/FileTree.h"
#include "support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>

namespace {

TEST(Confinement, ChangeableFoldersFromARootListing) {
    const std::vector<std::string> listing = {"Applications", "System", "Users", "private", "boot", "etc",  "lib64",
                                              "tmp",          "usr",    "Data",  ".hidden", "Home", "USERS"};
    EXPECT_EQ(Confinement::changeableFolders(listing),
              (std::vector<std::string>{"Applications", "Users", "private", "Data", "USERS", "usr/local"}));
}

// Runs `attempt` in a child confined to `root` (executing only /bin/true) and
// returns its errno, 0 on success; -1 when the kernel cannot confine.
int confinedErrno(const std::string& root, const std::function<int()>& attempt) {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(Confinement::apply(root, {"/bin/true"}) == 0 ? 255 : attempt() == 0 ? 0 : errno);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) != 255 ? WEXITSTATUS(status) : -1;
}

int spawnAndWait(const std::string& program) {
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    pid_t pid = 0;
    int status = 0;
    if ((errno = ::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, nullptr)) != 0) return -1;
    return ::waitpid(pid, &status, 0) == pid && status == 0 ? 0 : -1;
}

// Library and Users may change; boot is a host folder. Which top-level folders
// may change is the listing's rule above.
TEST(Confinement, OnlyChangeableFoldersChangeAndOnlyTheGivenProgramsRun) {
    ScratchFolder root;
    const FileTree::Owner me{::geteuid(), ::getegid()};
    const auto at = [&](const std::string& relative) { return root / relative; };
    const auto rename = [&](const char* from, const char* to) { return ::rename(at(from).c_str(), at(to).c_str()); };
    // clang-format off
    const std::tuple<const char*, std::function<int()>, int> cases[] = {
        {"remove a file", [&] { return ::unlink(at("Library/item").c_str()); }, 0},
        {"remove a host folder's file", [&] { return ::unlink(at("boot/item").c_str()); }, EACCES},
        {"make a folder at the top", [&] { return ::mkdir(at("new").c_str(), 0755); }, EACCES},
        {"move between changeable folders", [&] { return rename("Library/item", "Users/moved"); }, 0},
        {"move out of a host folder", [&] { return rename("boot/item", "Users/moved"); }, EACCES},
        {"move into a host folder", [&] { return rename("Library/item", "boot/moved"); }, EACCES},
        {"write in a host folder", [&] { return ::open(at("boot/item").c_str(), O_WRONLY | O_CLOEXEC) < 0 ? -1 : 0; },
         EACCES},
        {"truncate in a host folder", [&] { return ::truncate(at("boot/item").c_str(), 0); }, EACCES},
        {"run the given program", [&] { return spawnAndWait("/bin/true"); }, 0},
        {"run a copy in a changeable folder", [&] { return spawnAndWait(at("Library/true")); }, EACCES},
    };
    // clang-format on
    for (const auto& [what, attempt, expected] : cases) {
        for (const char* folder : {"Library", "Users", "boot"}) {
            FileTree::removeAll(root / folder);
            FileTree::makeFile(root / folder + "/item", "x", me);
        }
        std::filesystem::copy_file("/bin/true", root / "Library/true");
        const int error = confinedErrno(root.path(), attempt);
        if (error == -1) GTEST_SKIP() << "no Landlock here";
        EXPECT_EQ(error, expected) << what;
    }
}

}  // namespace
