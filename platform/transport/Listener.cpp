#include "platform/transport/Listener.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <thread>

namespace {

constexpr int firstActivatedFd = 3;
constexpr int acceptBatch = 16;

// Judging a peer reads a few small files; a few workers keep one slow peer
// from holding up the others.
constexpr std::size_t admissionWorkers = 4;

// The first socket that socket activation handed to this very process.
UniqueFd activatedSocket() {
    const char* pid = std::getenv("LISTEN_PID");
    const char* count = std::getenv("LISTEN_FDS");
    if (pid == nullptr || count == nullptr) return {};
    const bool forUs = std::strtol(pid, nullptr, 10) == static_cast<long>(::getpid());
    const long handed = std::strtol(count, nullptr, 10);
    ::unsetenv("LISTEN_PID");
    ::unsetenv("LISTEN_FDS");
    ::unsetenv("LISTEN_FDNAMES");
    if (!forUs || handed < 1) return {};
    // Only the first is used; none of them reaches a child process.
    for (long fd = firstActivatedFd; fd < firstActivatedFd + handed && fd < 1024; ++fd) {
        ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
    }

    int type = 0;
    int listening = 0;
    socklen_t length = sizeof type;
    if (::getsockopt(firstActivatedFd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_STREAM) return {};
    length = sizeof listening;
    if (::getsockopt(firstActivatedFd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) != 0 || !listening) return {};
    return UniqueFd(firstActivatedFd);
}

UniqueFd boundSocket(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) return {};
    std::memcpy(address.sun_path, path.data(), path.size());

    UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket) return {};
    struct stat existing;
    if (::lstat(path.c_str(), &existing) == 0 && !S_ISDIR(existing.st_mode)) ::unlink(path.c_str());
    if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return {};
    if (::chmod(path.c_str(), 0666) != 0) return {};
    if (::listen(socket.get(), SOMAXCONN) != 0) return {};
    return socket;
}

}  // namespace

Listener::Listener(std::string path) : path_(std::move(path)) {}

Listener::~Listener() = default;

void Listener::setDelegate(Delegate delegate) { delegate_ = std::move(delegate); }

bool Listener::resume() {
    socket_ = activatedSocket();
    if (!socket_) socket_ = boundSocket(path_);
    if (!socket_) return false;
    const int flags = ::fcntl(socket_.get(), F_GETFL);
    ::fcntl(socket_.get(), F_SETFL, flags | O_NONBLOCK);
    return true;
}

void Listener::acceptWaiting() {
    // Started here, on the main loop, not in resume: the helper confines itself
    // between the two, and only threads started afterwards are held with it.
    if (!admission_)
        admission_ = std::make_unique<ConcurrentExecutor>(admissionWorkers, ConcurrentExecutor::Start::allAtOnce);
    // A few at a time: the main loop's exit timer is not put off by clients
    // that keep connecting.
    for (int batch = 0; batch < acceptBatch; ++batch) {
        const int accepted = ::accept4(socket_.get(), nullptr, nullptr, SOCK_CLOEXEC);
        if (accepted < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            // Out of descriptors: give the others a moment before trying again.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            return;
        }
        UniqueFd socket(accepted);
        ucred credentials{};
        socklen_t length = sizeof credentials;
        if (::getsockopt(socket.get(), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) continue;
        // Over its user's limit, a connection is closed at once, unjudged.
        auto slot = limit_.take(credentials.uid);
        if (!slot) continue;
        auto connection = std::make_shared<Connection>(std::move(socket), connectionThreads_, std::move(slot));
        admission_->submit([this, connection = std::move(connection)] {
            if (delegate_) delegate_(connection);
        });
    }
}
