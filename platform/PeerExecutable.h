#pragma once

#include "platform/CodeRequirement.h"

#include <optional>
#include <string_view>

// The program at the other end of a connected Unix-domain socket, judged by
// its executable file.
//
// The peer process is found through its socket credentials and pinned by a
// process descriptor; its executable is read through /proc, and the process is
// checked afterwards to be the same one, still alive, so that a process number
// handed to another process in between is never judged. A process that starts
// another program after connecting keeps its socket: what is judged is the
// program that was running when the connection was admitted.
namespace PeerExecutable {

// The facts about the executable of the socket's peer; nothing when the peer
// cannot be pinned or its executable cannot be read.
std::optional<CodeRequirement::ExecutableFacts> facts(int socket);

// Whether the open file at `path` was installed by root: it and every folder
// on its path up to "/" are owned by root and writable by neither group nor
// others, and the path still names that very file. Links are not followed.
bool isInstalledByRoot(int fd, std::string_view path);

// Whether the socket's peer satisfies the requirement text.
bool satisfiesRequirement(int socket, std::string_view requirement);

}  // namespace PeerExecutable
