#pragma once

#include "platform/transport/WireProtocol.h"
#include "shared/UniqueFd.h"
#include "support/SandboxUsers.h"

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

// A client that speaks to the helper with the wire codec itself and checks
// every reply against the one expected: for load and fault tests, where many
// such clients run at once, each in a process of its own (so that each
// connects with its own user's identity) and each with several requests in
// flight.
namespace WireClient {

struct Exchange {
    Wire::Request request;
    Wire::ReplyValue expected;
};

struct Result {
    std::size_t answered = 0;           // replies received for a request of the list, once each
    std::vector<std::string> failures;  // what went wrong, at most a few, in order
};

// A connection to the helper's socket (or another listening at `socketPath`);
// invalid when that fails. Replies overdue by three minutes end a read.
UniqueFd connect(const std::string& socketPath = SandboxUsers::helperSocketPath);

// Sends the requests over `fd` keeping at most `window` in flight, reads every
// reply and checks it: an id that was asked for and not answered yet, the
// expected value. Gives up when the connection ends or a reply is overdue.
Result exchange(int fd, const std::vector<Exchange>& exchanges, std::size_t window);

// Runs `exchange` on a new connection in a child process that has become
// `user`; `finish` waits for that child and collects its result.
struct Child {
    pid_t pid = -1;
    UniqueFd report;  // the reading end of the pipe the child reports on
};
Child startAs(const SandboxUsers::User& user, const std::vector<Exchange>& exchanges, std::size_t window);
Result finish(Child child);
inline Result runAs(const SandboxUsers::User& user, const std::vector<Exchange>& exchanges, std::size_t window) {
    return finish(startAs(user, exchanges, window));
}

// Becomes `user` for good (root: nothing changes), keeping the effective
// group, as the set-group-ID client would; false when that failed.
bool becomeUser(const SandboxUsers::User& user);

// A reply value as text, for messages.
std::string describe(const Wire::ReplyValue& value);

}  // namespace WireClient
