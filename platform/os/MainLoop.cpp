#include "platform/os/MainLoop.h"

#include "shared/UniqueFd.h"

#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace MainLoop {

namespace {

// The main queue's one timer: armed once, never disarmed.
struct ExitTimer {
    UniqueFd fd{::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK)};
    std::atomic<bool> armed{false};
};

ExitTimer& exitTimer() {
    static ExitTimer* const timer = new ExitTimer;  // lives until the process ends
    return *timer;
}

[[noreturn]] void endProcess() {
    // Other connections' threads are still running: the process ends without
    // running destructors under them.
    ::_exit(0);
}

}  // namespace

void scheduleExit(std::chrono::milliseconds delay) {
    ExitTimer& timer = exitTimer();
    if (timer.armed.exchange(true)) return;
    itimerspec when{};
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(delay).count();
    when.it_value.tv_sec = static_cast<time_t>(nanoseconds / 1'000'000'000);
    when.it_value.tv_nsec = static_cast<long>(nanoseconds % 1'000'000'000);
    if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0) when.it_value.tv_nsec = 1;
    if (!timer.fd || ::timerfd_settime(timer.fd.get(), 0, &when, nullptr) != 0) endProcess();
}

void run(Listener& listener) {
    ExitTimer& timer = exitTimer();
    for (;;) {
        pollfd waiting[2] = {{listener.fd(), POLLIN, 0}, {timer.fd.get(), POLLIN, 0}};
        if (::poll(waiting, 2, -1) < 0) {
            if (errno == EINTR) continue;
            endProcess();
        }
        if (waiting[1].revents & POLLIN) endProcess();
        if (waiting[0].revents & POLLIN) listener.acceptWaiting();
    }
}

}  // namespace MainLoop
