#include "platform/admission/PeerExecutable.h"

#include "platform/admission/ClientGroup.h"
#include "platform/admission/EmbeddedInfoPlist.h"
#include "platform/os/Confinement.h"
#include "platform/os/LinkTarget.h"
#include "shared/PathText.h"
#include "shared/UniqueFd.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <sstream>
#include <string>

#ifndef SO_PEERPIDFD
#define SO_PEERPIDFD 77
#endif

namespace PeerExecutable {

namespace {

// When the process was started, in clock ticks since boot (field 22 of its
// stat line, after the command name, which may hold anything but ends at the
// last ')').
std::optional<unsigned long long> startTicks(pid_t pid) {
    const UniqueFd stat(::open(("/proc/" + std::to_string(pid) + "/stat").c_str(), O_RDONLY | O_CLOEXEC));
    if (!stat) return std::nullopt;
    std::string line(4096, '\0');
    const ssize_t length = ::read(stat.get(), line.data(), line.size());
    if (length <= 0) return std::nullopt;
    line.resize(static_cast<std::size_t>(length));
    const std::size_t nameEnd = line.rfind(')');
    if (nameEnd == std::string::npos) return std::nullopt;
    std::istringstream fields(line.substr(nameEnd + 1));
    std::string field;
    for (int i = 3; i <= 22; ++i) {
        if (!(fields >> field)) return std::nullopt;
    }
    try {
        return std::stoull(field);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// The peer's process descriptor, taken from the socket itself where the
// kernel offers it. Otherwise it is opened from the credentials' process
// number, and a process started after the connection was accepted holds a
// reused number: it is not the peer, and nothing is pinned.
UniqueFd peerProcess(int socket, pid_t pid, std::chrono::nanoseconds acceptedSinceBoot) {
    int pidfd = -1;
    socklen_t length = sizeof pidfd;
    if (::getsockopt(socket, SOL_SOCKET, SO_PEERPIDFD, &pidfd, &length) == 0 && pidfd >= 0) {
        ::fcntl(pidfd, F_SETFD, FD_CLOEXEC);
        return UniqueFd(pidfd);
    }
    UniqueFd process(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    const auto ticks = startTicks(pid);
    const long perSecond = ::sysconf(_SC_CLK_TCK);
    if (!process || !ticks || perSecond <= 0) return {};
    const auto startedSinceBoot = std::chrono::nanoseconds(std::chrono::seconds(*ticks / perSecond)) +
                                  std::chrono::nanoseconds(*ticks % perSecond * 1'000'000'000 / perSecond);
    if (startedSinceBoot > acceptedSinceBoot) return {};
    return process;
}

// The process is still running, so its number has not been reused. (A process
// descriptor turns readable when its process ends; asking needs no right to
// signal the process.)
bool isAlive(int pidfd) {
    pollfd ended{pidfd, POLLIN, 0};
    return ::poll(&ended, 1, 0) == 0;
}

bool isRootOwnedAndSealed(const struct stat& status) {
    return status.st_uid == 0 && (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

bool isInstalledByRoot(int fd, std::string_view path) {
    struct stat file;
    if (::fstat(fd, &file) != 0 || !S_ISREG(file.st_mode) || !isRootOwnedAndSealed(file)) return false;
    if (path.empty() || path.front() != '/') return false;

    UniqueFd folder(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat status;
    if (!folder || ::fstat(folder.get(), &status) != 0 || !isRootOwnedAndSealed(status)) return false;
    const auto components = PathText::components(path);
    if (components.empty()) return false;
    for (const auto component : components) {
        if (component == "." || component == "..") return false;
    }
    for (std::size_t i = 0; i + 1 < components.size(); ++i) {
        const std::string name(components[i]);
        UniqueFd next(::openat(folder.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next || ::fstat(next.get(), &status) != 0 || !isRootOwnedAndSealed(status)) return false;
        folder = std::move(next);
    }
    const std::string name(components.back());
    if (::fstatat(folder.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return false;
    return status.st_dev == file.st_dev && status.st_ino == file.st_ino;
}

std::chrono::nanoseconds sinceBoot() {
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

std::optional<CodeRequirement::ExecutableFacts> facts(int socket, std::chrono::nanoseconds acceptedSinceBoot) {
    // Credentials first: the client program runs with its own group, which
    // the process had when it connected.
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 || credentials.pid <= 0) {
        return std::nullopt;
    }
    const auto clientGroup = ClientGroup::id();
    if (!clientGroup || credentials.gid != *clientGroup) return std::nullopt;
    const UniqueFd process = peerProcess(socket, credentials.pid, acceptedSinceBoot);
    if (!process) return std::nullopt;

    // Then who installed the file; only then is anything in it read.
    const UniqueFd executable = Confinement::openProcessExecutable(credentials.pid);
    if (!executable) return std::nullopt;
    const auto path = linkTarget("/proc/self/fd/" + std::to_string(executable.get()));
    if (!path || !isInstalledByRoot(executable.get(), *path)) return std::nullopt;

    CodeRequirement::ExecutableFacts result;
    const auto identity = EmbeddedInfoPlist::identity(executable.get());
    result.bundleIdentifier = identity.bundleIdentifier;
    result.teamIdentifier = identity.teamIdentifier;
    result.installedByRoot = true;

    if (!isAlive(process.get())) return std::nullopt;
    return result;
}

bool satisfiesRequirement(int socket, std::string_view requirement, std::chrono::nanoseconds acceptedSinceBoot) {
    const auto peer = facts(socket, acceptedSinceBoot);
    return peer && CodeRequirement::isSatisfied(CodeRequirement::parse(requirement), *peer);
}

}  // namespace PeerExecutable
