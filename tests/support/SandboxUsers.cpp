#include "support/SandboxUsers.h"

#include "shared/UniqueFd.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace SandboxUsers {

namespace {

struct Pipe {
    UniqueFd read, write;
};

Pipe makePipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return {};
    }
    return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

// Feeds `input` and drains both output pipes at once, until both have closed.
void pump(UniqueFd in, const std::string& input, UniqueFd out, UniqueFd err, ToolRun& run) {
    std::size_t written = 0;
    if (input.empty()) in.reset();
    if (in) ::fcntl(in.get(), F_SETFL, O_NONBLOCK);
    while (out || err) {
        pollfd fds[3] = {{out.get(), POLLIN, 0}, {err.get(), POLLIN, 0}, {in.get(), POLLOUT, 0}};
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        char buffer[65536];
        for (int i = 0; i < 2; ++i) {
            UniqueFd& fd = i == 0 ? out : err;
            if (!fd || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
            if (n > 0) {
                (i == 0 ? run.output : run.error).append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                fd.reset();
            }
        }
        if (in && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            const ssize_t n = ::write(in.get(), input.data() + written, input.size() - written);
            if (n > 0) written += static_cast<std::size_t>(n);
            if (n < 0 && errno != EAGAIN && errno != EINTR) in.reset();
            if (written == input.size()) in.reset();
        }
    }
}

}  // namespace

ToolRun runAs(const User& user, const std::string& program, const std::vector<std::string>& arguments,
          const std::string& input) {
    ToolRun run;
    Pipe in = makePipe(), out = makePipe(), err = makePipe();
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    const pid_t child = ::fork();
    if (child < 0) {
        ADD_FAILURE() << "fork: " << std::strerror(errno);
        return run;
    }
    if (child == 0) {
        // Only async-signal-safe calls from here to exec.
        ::dup2(in.read.get(), 0);
        ::dup2(out.write.get(), 1);
        ::dup2(err.write.get(), 2);
        if (user.uid != 0) {
            if (::setgroups(0, nullptr) != 0 || ::setresgid(user.gid, user.gid, user.gid) != 0 ||
                ::setresuid(user.uid, user.uid, user.uid) != 0) {
                ::_exit(126);
            }
        }
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    in.read.reset();
    out.write.reset();
    err.write.reset();
    ::signal(SIGPIPE, SIG_IGN);
    pump(std::move(in.write), input, std::move(out.read), std::move(err.read), run);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {}
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status);
    return run;
}

ToolRun ctl(const User& user, const std::vector<std::string>& arguments, const std::string& program) {
    std::vector<std::string> words{"--json"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    ToolRun run = runAs(user, program, words);
    if (run.status == 0) {
        run.reply = nlohmann::json::parse(run.output, nullptr, false);
        if (run.reply.is_discarded()) {
            ADD_FAILURE() << "sorvanectl printed no JSON: " << run.output;
            run.reply = nullptr;
        }
    }
    return run;
}

namespace {

Outcome removal(const char* verb, const User& user, const std::vector<std::string>& paths, bool toTrash) {
    std::vector<std::string> words{verb};
    if (toTrash) words.emplace_back("--trash");
    words.insert(words.end(), paths.begin(), paths.end());
    const ToolRun run = ctl(user, words);
    Outcome outcome;
    if (run.status != 0 || !run.reply.is_object()) {
        ADD_FAILURE() << "sorvanectl " << verb << " as " << user.name << " ended with " << run.status
                      << "; output: " << run.output << "; error: " << run.error;
        return outcome;
    }
    for (const auto& [path, reason] : run.reply.items()) {
        if (!reason.is_string()) {
            ADD_FAILURE() << "reply for " << path << " is not a text: " << reason.dump();
            continue;
        }
        outcome[path] = reason.get<std::string>();
    }
    return outcome;
}

}  // namespace

Outcome removeItems(const User& user, const std::vector<std::string>& paths, bool toTrash) {
    return removal("remove", user, paths, toTrash);
}

Outcome removeChosenItems(const User& user, const std::vector<std::string>& paths, bool toTrash) {
    return removal("remove-chosen", user, paths, toTrash);
}

pid_t helperPid() {
    std::ifstream in("/var/run/sandbox/helper.pid");
    pid_t pid = 0;
    in >> pid;
    return pid;
}

}  // namespace SandboxUsers
