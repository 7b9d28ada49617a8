#pragma once

#include "platform/admission/CodeRequirement.h"

#include <chrono>
#include <optional>
#include <string_view>

// The program at the other end of a connected Unix-domain socket, judged by
// its executable file.
//
// In this order, so that a peer that fails an earlier check costs nothing
// more: the socket's credentials must carry the client group (ClientGroup),
// which a process has only while it runs the set-group-ID client program and
// keeps from the moment it connected, so a process that connects and then
// starts the client is refused; the peer is pinned by a process descriptor;
// its executable, opened through /proc, and every folder above it must have
// been installed by root; only then is the file read, within fixed bounds.
// The process is checked afterwards to be the same one, still alive, so that
// a process number handed to another process in between is never judged.
namespace PeerExecutable {

// The facts about the executable of the socket's peer; nothing when the peer
// lacks the client group, cannot be pinned, or its executable was not
// installed by root or cannot be read. `acceptedSinceBoot` is when the
// connection was accepted (CLOCK_BOOTTIME): where the kernel cannot hand over
// the peer's process descriptor, a process started later is not the peer.
std::optional<CodeRequirement::ExecutableFacts> facts(int socket, std::chrono::nanoseconds acceptedSinceBoot);

// Whether the open file at `path` was installed by root: it and every folder
// on its path up to "/" are owned by root and writable by neither group nor
// others, and the path still names that very file. Links are not followed.
bool isInstalledByRoot(int fd, std::string_view path);

// Whether the socket's peer satisfies the requirement text.
bool satisfiesRequirement(int socket, std::string_view requirement, std::chrono::nanoseconds acceptedSinceBoot);

// The time since boot, as the kernel counts a process's start (CLOCK_BOOTTIME).
std::chrono::nanoseconds sinceBoot();

}  // namespace PeerExecutable
