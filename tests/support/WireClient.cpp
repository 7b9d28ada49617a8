#include "support/WireClient.h"

#include "client/ReplyOutput.h"
#include "platform/transport/FrameStream.h"

#include <poll.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

namespace WireClient {

namespace {

std::string describe(const Wire::ReplyValue& value) { return ReplyOutput::jsonLine(ReplyOutput::json(value)); }

}  // namespace

UniqueFd connect(const std::string& socketPath) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) return {};
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return {};
    timeval timeout{180, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    return fd;
}

bool exchange(int fd, const std::vector<Exchange>& exchanges, std::size_t window) {
    std::map<uint64_t, std::size_t> inFlight;  // id -> index in `exchanges`
    FrameStream::Reader reader(fd);
    std::string body;
    std::size_t sent = 0, answered = 0, wrong = 0;
    while (answered < exchanges.size()) {
        while (sent < exchanges.size() && inFlight.size() < window) {
            if (!FrameStream::writeAll(fd, Wire::encodeRequest(exchanges[sent].request))) {
                std::fprintf(stderr, "client: the helper stopped reading after %zu requests\n", sent);
                return false;
            }
            inFlight.emplace(exchanges[sent].request.id, sent);
            ++sent;
        }
        const auto reply = reader.next(body) == FrameStream::ReadStatus::frame ? Wire::decodeReply(body) : std::nullopt;
        const auto found = reply ? inFlight.find(reply->id) : inFlight.end();
        if (found == inFlight.end()) {
            std::fprintf(stderr, "client: after %zu replies, %s\n", answered,
                         reply ? "one for an id not waiting for one" : "the connection ended or sent no reply");
            return false;
        }
        const Exchange& asked = exchanges[found->second];
        if (reply->value != asked.expected && ++wrong <= 5)
            std::fprintf(stderr, "client: %s (id %llu) got %s, expected %s\n",
                         std::string(Wire::info(asked.request.selector).name).c_str(),
                         static_cast<unsigned long long>(reply->id), describe(reply->value).c_str(),
                         describe(asked.expected).c_str());
        inFlight.erase(found);
        ++answered;
    }
    return wrong == 0;
}

bool becomeUser(const SandboxUsers::User& user) {
    if (user.uid == 0) return true;
    // The effective group stays the client group this program was installed with.
    const gid_t clientGroup = ::getegid();
    return ::setgroups(0, nullptr) == 0 && ::setresgid(user.gid, clientGroup, clientGroup) == 0 &&
           ::setresuid(user.uid, user.uid, user.uid) == 0;
}

pid_t startAs(const SandboxUsers::User& user, const std::vector<Exchange>& exchanges, std::size_t window) {
    const pid_t child = ::fork();
    if (child == 0) {
        UniqueFd fd;
        if (becomeUser(user)) fd = connect();
        ::_exit(fd && exchange(fd.get(), exchanges, window) ? 0 : 1);
    }
    return child;
}

bool finish(pid_t child) {
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::optional<Wire::Reply> nextReply(int fd, std::chrono::milliseconds timeout) {
    pollfd waiting{fd, POLLIN, 0};
    if (::poll(&waiting, 1, static_cast<int>(timeout.count())) != 1) return std::nullopt;
    FrameStream::Reader reader(fd);
    std::string body;
    if (reader.next(body) != FrameStream::ReadStatus::frame) return std::nullopt;
    return Wire::decodeReply(body);
}

std::size_t fromEnvironment(const char* name, std::size_t fallback) {
    const char* text = std::getenv(name);
    return text == nullptr || *text == '\0' ? fallback : static_cast<std::size_t>(std::strtoul(text, nullptr, 10));
}

}  // namespace WireClient
