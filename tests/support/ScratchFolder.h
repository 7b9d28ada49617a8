#pragma once

#include <sys/types.h>

#include <map>
#include <string>

// A fresh folder for one test under the system's temporary folder (or under
// `parent`), reached through a path without symbolic links, removed with
// everything in it at the end.
class ScratchFolder {
public:
    ScratchFolder();
    explicit ScratchFolder(const std::string& parent);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& path() const { return path_; }
    // path() joined with a relative path.
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

private:
    std::string path_;
};

// The number of descriptors this process has open now.
int openDescriptorCount();

// What a tree looks like, entry by entry (relative path to type, mode, owner,
// inode and, for links, the target), without following links.
using TreeSnapshot = std::map<std::string, std::string>;
TreeSnapshot snapshotOf(const std::string& root);
