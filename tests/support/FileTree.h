#pragma once

#include "shared/AnchoredFiles.h"

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

// Making and inspecting file trees in tests. Every maker creates missing
// parent folders (owned by root, mode 0755) and fails the test on error.
namespace FileTree {

struct Owner {
    uid_t uid = 0;
    gid_t gid = 0;
    bool operator==(const Owner&) const = default;
};

void makeFolder(const std::string& path, Owner owner = {}, mode_t mode = 0755);
void makeFile(const std::string& path, const std::string& content = "", Owner owner = {}, mode_t mode = 0644);
void makeSymlink(const std::string& target, const std::string& path);

// A tree of `folders` folders three levels deep, each holding `filesPerFolder`
// empty files; returns the number of files.
std::size_t makeWideTree(const std::string& root, std::size_t folders, std::size_t filesPerFolder);

// Removes whatever is at `path` (recursively); a missing path is fine.
void removeAll(const std::string& path);

// True when something (a link included) is at `path`; lstat, never following.
bool exists(const std::string& path);
bool isSymlink(const std::string& path);
std::optional<Owner> ownerOf(const std::string& path);
std::optional<mode_t> permissionsOf(const std::string& path);
std::string readFile(const std::string& path);

// The paths below `root` (not following links) whose owner differs from `owner`.
std::vector<std::string> entriesNotOwnedBy(const std::string& root, Owner owner);

// The names in a folder, sorted; empty when it cannot be read.
std::vector<std::string> namesIn(const std::string& folder);

// The system's message for an errno value, as the helper's failure texts carry it.
std::string systemMessage(int code);

// The failure an anchored file operation threw, or none.
std::optional<AnchoredFiles::Failure> failureOf(const std::function<void()>& operation);

}  // namespace FileTree
