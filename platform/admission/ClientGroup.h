#pragma once

#include <sys/types.h>

#include <optional>

// The group that the client program is installed set-group-ID to: no user
// belongs to it, so only a process running that program has it as its
// effective group.
namespace ClientGroup {

inline constexpr const char* name = "sorvane";

// The group's id, looked up by name once, on the first call; nothing when the
// machine has no such group (then no peer is admitted).
std::optional<gid_t> id();

}  // namespace ClientGroup
