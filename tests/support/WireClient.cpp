#include "support/WireClient.h"

#include "client/ReplyOutput.h"
#include "platform/transport/FrameStream.h"

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
    std::size_t sent = 0, wrong = 0;
    for (std::size_t answered = 0; answered < exchanges.size(); ++answered) {
        for (; sent < exchanges.size() && inFlight.size() < window; ++sent) {
            if (!FrameStream::writeAll(fd, Wire::encodeRequest(exchanges[sent].request))) return false;
            inFlight.emplace(exchanges[sent].request.id, sent);
        }
        const auto reply = reader.next(body) == FrameStream::ReadStatus::frame ? Wire::decodeReply(body) : std::nullopt;
        const auto found = reply ? inFlight.find(reply->id) : inFlight.end();
        if (found == inFlight.end()) {
            std::fprintf(stderr, "client: after %zu replies, none or one not waited for\n", answered);
            return false;
        }
        const Exchange& asked = exchanges[found->second];
        if (reply->value != asked.expected && ++wrong <= 5)
            std::fprintf(stderr, "client: %s got %s\n", std::string(Wire::info(asked.request.selector).name).c_str(),
                         ReplyOutput::jsonLine(ReplyOutput::json(reply->value)).c_str());
        inFlight.erase(found);
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

std::size_t fromEnvironment(const char* name, std::size_t fallback) {
    const char* text = std::getenv(name);
    return text == nullptr || *text == '\0' ? fallback : static_cast<std::size_t>(std::strtoul(text, nullptr, 10));
}

}  // namespace WireClient
