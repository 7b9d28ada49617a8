#include "support/ScratchFolder.h"
#include "support/FileTree.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

ScratchFolder::ScratchFolder() : ScratchFolder(fs::temp_directory_path().string()) {}

ScratchFolder::ScratchFolder(const std::string& parent) {
    std::string pattern = (fs::path(parent) / "scratch-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        ADD_FAILURE() << "mkdtemp in " << parent;
    else
        path_ = fs::canonical(pattern);
}

ScratchFolder::~ScratchFolder() {
    if (!path_.empty()) FileTree::removeAll(path_);
}

int openDescriptorCount() {
    const auto entries = fs::directory_iterator("/proc/self/fd");
    return static_cast<int>(std::distance(fs::begin(entries), fs::end(entries))) - 1;  // the iterator's own
}

TreeSnapshot snapshotOf(const std::string& root) {
    std::vector<fs::path> paths{root};
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error))
        paths.push_back(it->path());
    TreeSnapshot snapshot;
    for (const fs::path& path : paths) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) continue;
        std::string& text = snapshot[fs::relative(path, root).string()];
        text = std::to_string(st.st_mode) + " " + std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid) +
               " inode " + std::to_string(st.st_ino);
        if (S_ISLNK(st.st_mode)) text += " -> " + fs::read_symlink(path).string();
    }
    return snapshot;
}
