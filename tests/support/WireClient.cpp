#include "support/WireClient.h"

#include "platform/transport/FrameStream.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <sstream>

namespace WireClient {

namespace {

constexpr std::size_t keptFailures = 5;
constexpr int replyTimeoutSeconds = 180;

void note(Result& result, std::string failure) {
    if (result.failures.size() < keptFailures) result.failures.push_back(std::move(failure));
}

// The child's report on its pipe: the count, then one failure a line.
std::string report(const Result& result) {
    std::string text = std::to_string(result.answered) + "\n";
    for (const auto& failure : result.failures) {
        for (const char c : failure) text += c == '\n' ? ' ' : c;
        text += '\n';
    }
    return text;
}

void writeAllTo(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t count = ::write(fd, bytes.data(), bytes.size());
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return;
        bytes.remove_prefix(static_cast<std::size_t>(count));
    }
}

}  // namespace

UniqueFd connect(const std::string& socketPath) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) return {};
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return {};
    timeval timeout{replyTimeoutSeconds, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    return fd;
}

std::string describe(const Wire::ReplyValue& value) {
    struct Visitor {
        std::string operator()(std::monostate) const { return "nil"; }
        std::string operator()(const std::string& text) const { return '"' + text + '"'; }
        std::string operator()(bool flag) const { return flag ? "true" : "false"; }
        std::string operator()(const Wire::TextDictionary& texts) const {
            std::string out = "{";
            for (const auto& [key, text] : texts) out += '"' + key + "\": \"" + text + "\", ";
            return out + "}";
        }
    };
    return std::visit(Visitor{}, value);
}

Result exchange(int fd, const std::vector<Exchange>& exchanges, std::size_t window) {
    Result result;
    std::map<uint64_t, std::size_t> inFlight;  // id -> index in `exchanges`
    FrameStream::Reader reader(fd);
    std::string body;
    std::size_t sent = 0;
    while (result.answered < exchanges.size()) {
        while (sent < exchanges.size() && inFlight.size() < window) {
            const Exchange& next = exchanges[sent];
            if (!FrameStream::writeAll(fd, Wire::encodeRequest(next.request))) {
                note(result, "the helper stopped reading after " + std::to_string(sent) + " requests");
                return result;
            }
            inFlight.emplace(next.request.id, sent++);
        }
        if (reader.next(body) != FrameStream::ReadStatus::frame) {
            note(result, "the connection ended (or no reply came) after " + std::to_string(result.answered) + " replies");
            return result;
        }
        const auto reply = Wire::decodeReply(body);
        if (!reply) {
            note(result, "a reply that does not decode");
            return result;
        }
        const auto found = inFlight.find(reply->id);
        if (found == inFlight.end()) {
            note(result, "a reply for id " + std::to_string(reply->id) + ", which is not waiting for one");
            continue;
        }
        const Exchange& asked = exchanges[found->second];
        if (reply->value != asked.expected) {
            note(result, std::string(Wire::info(asked.request.selector).name) + " (id " + std::to_string(reply->id) +
                             ") got " + describe(reply->value) + ", expected " + describe(asked.expected));
        }
        inFlight.erase(found);
        ++result.answered;
    }
    return result;
}

bool becomeUser(const SandboxUsers::User& user) {
    if (user.uid == 0) return true;
    // The effective group stays the client group this program was installed with.
    const gid_t clientGroup = ::getegid();
    return ::setgroups(0, nullptr) == 0 && ::setresgid(user.gid, clientGroup, clientGroup) == 0 &&
           ::setresuid(user.uid, user.uid, user.uid) == 0;
}

Child startAs(const SandboxUsers::User& user, const std::vector<Exchange>& exchanges, std::size_t window) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ends[0]);
        Result result;
        if (!becomeUser(user)) {
            note(result, "could not become " + std::string(user.name));
        } else if (UniqueFd fd = connect(); !fd) {
            note(result, "could not connect: " + std::string(std::strerror(errno)));
        } else {
            result = exchange(fd.get(), exchanges, window);
        }
        writeAllTo(ends[1], report(result));
        ::_exit(0);
    }
    ::close(ends[1]);
    return {child, UniqueFd(ends[0])};
}

Result finish(Child child) {
    Result result;
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(child.report.get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        text.append(buffer, static_cast<std::size_t>(count));
    }
    int status = 0;
    if (child.pid > 0) ::waitpid(child.pid, &status, 0);
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line)) {
        result.failures.push_back("the client process reported nothing");
        return result;
    }
    result.answered = std::stoul(line);
    while (std::getline(lines, line)) result.failures.push_back(line);
    return result;
}

}  // namespace WireClient
