// The floor of the helper's request path: a minimal server on the same kind of
// socket that reads each frame and writes back one fixed reply frame of the
// size of the helper's version reply, one thread per connection. Nothing is
// decoded, checked or dispatched, so what the helper takes beyond this is the
// cost of its own request path.
//
//   FloorServer SOCKET_PATH
//
// Serves until its standard input ends; then it ends every connection, waits
// for their threads and removes the socket.
#include "platform/transport/FrameStream.h"
#include "platform/transport/WireProtocol.h"
#include "shared/HelperConstants.h"
#include "shared/UniqueFd.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

int fail(const char* what) {
    std::fprintf(stderr, "FloorServer: %s: %s\n", what, std::strerror(errno));
    return 1;
}

void serve(int fd, const std::string& reply) {
    FrameStream::Reader reader(fd);
    std::string body;
    while (reader.next(body) == FrameStream::ReadStatus::frame)
        if (!FrameStream::writeAll(fd, reply)) break;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: FloorServer SOCKET_PATH\n");
        return 64;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (std::strlen(argv[1]) >= sizeof address.sun_path) return fail("socket path too long");
    std::strncpy(address.sun_path, argv[1], sizeof address.sun_path - 1);

    UniqueFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ::unlink(argv[1]);
    if (!listener || ::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener.get(), SOMAXCONN) != 0) {
        return fail("listen");
    }
    ::chmod(argv[1], 0666);

    // The helper answers a version request with this frame; its id is one a
    // benchmark reaches, so the length is that of the helper's replies.
    const std::string reply = Wire::encodeReply({1000, std::string(HelperConstants::version)});

    std::vector<UniqueFd> connections;
    std::vector<std::thread> threads;
    pollfd watched[] = {{listener.get(), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    for (;;) {
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (watched[1].revents != 0) break;  // standard input ended (or has data): stop
        if (watched[0].revents == 0) continue;
        UniqueFd connection(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!connection) continue;
        const int fd = connection.get();
        connections.push_back(std::move(connection));
        threads.emplace_back(serve, fd, std::cref(reply));
    }
    for (const UniqueFd& connection : connections) ::shutdown(connection.get(), SHUT_RDWR);
    for (std::thread& thread : threads) thread.join();
    ::unlink(argv[1]);
    return 0;
}
