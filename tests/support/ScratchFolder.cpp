#include "support/ScratchFolder.h"
#include "support/FileTree.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

ScratchFolder::ScratchFolder() : ScratchFolder(fs::temp_directory_path().string()) {}

ScratchFolder::ScratchFolder(const std::string& parent) {
    std::string pattern = (fs::path(parent) / "scratch-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
        return;
    }
    char resolved[PATH_MAX];
    path_ = ::realpath(pattern.c_str(), resolved) ? resolved : pattern;
}

ScratchFolder::~ScratchFolder() {
    if (!path_.empty()) FileTree::removeAll(path_);
}

int openDescriptorCount() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
    return count - 1;  // the iterator's own
}

TreeSnapshot snapshotOf(const std::string& root) {
    TreeSnapshot snapshot;
    auto describe = [&](const fs::path& path) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) return;
        std::string text = std::to_string(st.st_mode) + " " + std::to_string(st.st_uid) + ":" +
                           std::to_string(st.st_gid) + " inode " + std::to_string(st.st_ino);
        if (S_ISLNK(st.st_mode)) text += " -> " + fs::read_symlink(path).string();
        snapshot[fs::relative(path, root).string()] = text;
    };
    describe(root);
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error))
        describe(it->path());
    return snapshot;
}
