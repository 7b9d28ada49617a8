#pragma once

#include "platform/transport/WireProtocol.h"
#include "shared/UniqueFd.h"
#include "support/SandboxUsers.h"

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// The test client of the helper: it speaks with the wire codec itself and
// checks every reply against the one expected. Load and fault tests run many
// at once, each in a process of its own (so that each connects with its own
// user's identity) and each with several requests in flight.
namespace WireClient {

struct Exchange {
    Wire::Request request;
    Wire::ReplyValue expected;
};

// A connection to the helper's socket (or another listening at `socketPath`);
// invalid when that fails. Replies overdue by three minutes end a read.
UniqueFd connect(const std::string& socketPath = SandboxUsers::helperSocketPath);

// Sends the requests over `fd` keeping at most `window` in flight and checks
// every reply: an id that was asked for and not answered yet, the expected
// value. True when each request got its reply; what went wrong goes to
// standard error.
bool exchange(int fd, const std::vector<Exchange>& exchanges, std::size_t window);

// Runs `exchange` on a new connection in a child process that has become
// `user`; `finish` waits for that child and tells whether all went well.
pid_t startAs(const SandboxUsers::User& user, const std::vector<Exchange>& exchanges, std::size_t window);
bool finish(pid_t child);
inline bool runAs(const SandboxUsers::User& user, const std::vector<Exchange>& exchanges, std::size_t window) {
    return finish(startAs(user, exchanges, window));
}

// Becomes `user` for good (root: nothing changes), keeping the effective
// group, as the set-group-ID client would; false when that failed.
bool becomeUser(const SandboxUsers::User& user);

// Environment variables that scale load and fault runs.
std::size_t fromEnvironment(const char* name, std::size_t fallback);

}  // namespace WireClient
