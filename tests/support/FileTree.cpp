#include "support/FileTree.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace FileTree {

namespace {

void makeParents(const std::string& path) {
    std::error_code error;
    fs::create_directories(fs::path(path).parent_path(), error);
    EXPECT_FALSE(error) << "making the folders above " << path << ": " << error.message();
}

void setOwnerAndMode(const std::string& path, Owner owner, mode_t mode) {
    EXPECT_EQ(::lchown(path.c_str(), owner.uid, owner.gid), 0) << "chown " << path << ": " << std::strerror(errno);
    EXPECT_EQ(::chmod(path.c_str(), mode), 0) << "chmod " << path << ": " << std::strerror(errno);
}

std::optional<struct stat> statusOf(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
    return st;
}

}  // namespace

void makeFolder(const std::string& path, Owner owner, mode_t mode) {
    makeParents(path);
    ::mkdir(path.c_str(), 0700);  // a failure shows in the owner and mode set next
    setOwnerAndMode(path, owner, mode);
}

void makeFile(const std::string& path, const std::string& content, Owner owner, mode_t mode) {
    makeParents(path);
    EXPECT_TRUE((std::ofstream(path, std::ios::binary | std::ios::trunc) << content).good()) << "writing " << path;
    setOwnerAndMode(path, owner, mode);
}

void makeSymlink(const std::string& target, const std::string& path) {
    makeParents(path);
    ::unlink(path.c_str());
    EXPECT_EQ(::symlink(target.c_str(), path.c_str()), 0) << "symlink " << path << ": " << std::strerror(errno);
}

std::size_t makeWideTree(const std::string& root, std::size_t folders, std::size_t filesPerFolder) {
    // Folders are spread over two upper levels, so files lie three levels below the root.
    for (std::size_t i = 0; i < folders; ++i) {
        const std::string folder =
            root + "/d" + std::to_string(i / 100) + "/d" + std::to_string(i / 10 % 10) + "/d" + std::to_string(i % 10);
        std::error_code error;
        fs::create_directories(folder, error);
        EXPECT_FALSE(error) << folder << ": " << error.message();
        for (std::size_t f = 0; f < filesPerFolder; ++f)
            EXPECT_TRUE(std::ofstream(folder + "/f" + std::to_string(f)).good()) << folder;
    }
    return folders * filesPerFolder;
}

void removeAll(const std::string& path) {
    std::error_code error;
    fs::remove_all(path, error);
    EXPECT_FALSE(error) << "removing " << path << ": " << error.message();
}

bool exists(const std::string& path) { return statusOf(path).has_value(); }

bool isSymlink(const std::string& path) { return statusOf(path) && S_ISLNK(statusOf(path)->st_mode); }

std::optional<Owner> ownerOf(const std::string& path) {
    const auto st = statusOf(path);
    return st ? std::optional<Owner>(Owner{st->st_uid, st->st_gid}) : std::nullopt;
}

std::optional<mode_t> permissionsOf(const std::string& path) {
    const auto st = statusOf(path);
    return st ? std::optional<mode_t>(st->st_mode & 07777) : std::nullopt;
}

std::string readFile(const std::string& path) {
    return (std::ostringstream() << std::ifstream(path, std::ios::binary).rdbuf()).str();
}

std::vector<std::string> entriesNotOwnedBy(const std::string& root, Owner owner) {
    std::vector<std::string> others;
    if (ownerOf(root) != owner) others.push_back(root);
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error))
        if (ownerOf(it->path()) != owner) others.push_back(it->path());
    return others;
}

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (auto it = fs::directory_iterator(folder, error); !error && it != fs::directory_iterator(); it.increment(error))
        names.push_back(it->path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

std::string systemMessage(int code) { return std::strerror(code); }

std::optional<AnchoredFiles::Failure> failureOf(const std::function<void()>& operation) try {
    operation();
    return std::nullopt;
} catch (const AnchoredFiles::Failure& failure) {
    return failure;
}

}  // namespace FileTree
