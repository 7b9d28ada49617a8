#include "platform/os/ChildProcess.h"

#include "shared/SystemMessage.h"
#include "shared/UniqueFd.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace ChildProcess {

namespace {

struct Pipe {
    UniqueFd read;
    UniqueFd write;
};

// A descriptor numbered 0, 1 or 2 (the helper's own standard streams were
// closed) would be overwritten by the child's redirections; it is moved up.
bool keepAboveStandardStreams(UniqueFd& fd) {
    if (fd.get() > STDERR_FILENO) return true;
    int moved = ::fcntl(fd.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (moved < 0) return false;
    fd.reset(moved);
    return true;
}

bool makePipe(Pipe& pipe) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    pipe.read.reset(fds[0]);
    pipe.write.reset(fds[1]);
    return keepAboveStandardStreams(pipe.read) && keepAboveStandardStreams(pipe.write);
}

// The child starts with no blocked signals and every signal at its default
// action, whatever the calling thread blocks or the helper ignores.
struct SpawnAttributes {
    posix_spawnattr_t attributes;
    bool initialized = false;
    int status;

    SpawnAttributes() : status(posix_spawnattr_init(&attributes)) {
        if (status != 0) return;
        initialized = true;
        sigset_t none, all;
        sigemptyset(&none);
        sigfillset(&all);
        sigdelset(&all, SIGKILL);
        sigdelset(&all, SIGSTOP);
        if ((status = posix_spawnattr_setsigmask(&attributes, &none)) != 0) return;
        if ((status = posix_spawnattr_setsigdefault(&attributes, &all)) != 0) return;
        status = posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
    ~SpawnAttributes() {
        if (initialized) posix_spawnattr_destroy(&attributes);
    }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
};

Result launchFailure(int code) {
    Result result;
    result.launchError = systemMessage(code);
    return result;
}

// Reads both pipes until each reaches end of file, whichever fills first.
void drain(UniqueFd& first, std::string& firstOut, UniqueFd& second, std::string& secondOut) {
    char buffer[65536];
    while (first.valid() || second.valid()) {
        pollfd fds[2];
        nfds_t count = 0;
        UniqueFd* owners[2];
        std::string* outs[2];
        if (first.valid()) {
            fds[count] = {first.get(), POLLIN, 0};
            owners[count] = &first;
            outs[count++] = &firstOut;
        }
        if (second.valid()) {
            fds[count] = {second.get(), POLLIN, 0};
            owners[count] = &second;
            outs[count++] = &secondOut;
        }
        if (::poll(fds, count, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        for (nfds_t i = 0; i < count; ++i) {
            if (fds[i].revents == 0) continue;
            ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                outs[i]->append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                owners[i]->reset();
            }
        }
    }
}

}  // namespace

Result run(const std::string& executable, const std::vector<std::string>& arguments, Streams streams) {
    // A NUL byte would silently cut an argument short.
    if (executable.find('\0') != std::string::npos) return launchFailure(EINVAL);
    for (const auto& argument : arguments)
        if (argument.find('\0') != std::string::npos) return launchFailure(EINVAL);

    Pipe out, err;
    if (!makePipe(out)) return launchFailure(errno);
    if (streams == Streams::separate && !makePipe(err)) return launchFailure(errno);

    posix_spawn_file_actions_t actions;
    if (int rc = posix_spawn_file_actions_init(&actions); rc != 0) return launchFailure(rc);
    int stderrSource = streams == Streams::separate ? err.write.get() : out.write.get();
    int added = posix_spawn_file_actions_adddup2(&actions, out.write.get(), STDOUT_FILENO);
    if (added == 0) added = posix_spawn_file_actions_adddup2(&actions, stderrSource, STDERR_FILENO);
    if (added != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return launchFailure(added);
    }

    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(const_cast<char*>(executable.c_str()));
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    SpawnAttributes attributes;
    if (attributes.status != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return launchFailure(attributes.status);
    }

    pid_t pid = -1;
    int rc = posix_spawn(&pid, executable.c_str(), &actions, &attributes.attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return launchFailure(rc);

    // Only the child keeps the writing ends, so end of file means it closed them.
    out.write.reset();
    err.write.reset();

    Result result;
    result.launched = true;
    drain(out.read, result.output, err.read, result.error);

    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            result.status = -1;
            return result;
        }
    }
    if (WIFEXITED(status)) {
        result.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.status = WTERMSIG(status);
    }
    return result;
}

}  // namespace ChildProcess
