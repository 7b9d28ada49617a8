#pragma once

#include "shared/UniqueFd.h"

#include <sys/types.h>

#include <string>
#include <vector>

// The helper's hold on itself (Landlock). Once applied, the kernel lets the
// process, every thread it starts afterwards and every child:
//   - read anywhere;
//   - make, remove, rename, link, write and truncate only beneath the folders
//     that requests may change (changeableFolders);
//   - execute only the given programs and the interpreters they need to start;
//   - signal, and connect to abstract sockets of, only processes held the same way.
// A decision that goes wrong then fails with "Permission denied" instead of
// touching the rest of the machine.
namespace Confinement {

// The folders requests may change, relative to the root, from the names of the
// real folders (not links) at the root's top level: the Mac folders that hold
// what requests remove (Applications, Library, Users, Volumes, private, in any
// letter case), every other top-level folder that is neither a Linux host
// folder nor one of the startup volume's standard names, and "usr/local".
std::vector<std::string> changeableFolders(const std::vector<std::string>& topLevelFolders);

// Holds the calling thread, and so everything it starts from now on, to
// `root`'s changeable folders and to `programs` (absolute paths, resolved now;
// a program counts only when it and every folder above it are owned by root
// and writable by nobody else). Must be called while the process has no other
// thread. Returns the Landlock version applied, 0 when the kernel has none
// that fits (the process then goes on unconfined).
int apply(const std::string& root, const std::vector<std::string>& programs);

// Opens a process's executable (/proc/PID/exe). The kernel lets a confined
// process open that only for processes confined alike, so once `apply` has
// succeeded the open runs on one thread kept outside the confinement.
UniqueFd openProcessExecutable(pid_t pid);

}  // namespace Confinement
