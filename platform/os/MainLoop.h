#pragma once

#include "platform/transport/Listener.h"

#include <chrono>

// The main thread's event loop: it accepts the listener's connections and runs
// the scheduled exit.
namespace MainLoop {

// Runs for the life of the process.
[[noreturn]] void run(Listener& listener);

// Arms the one exit timer: `delay` from the first call the process ends with
// status 0, whatever is still running. Later calls change nothing. Safe from
// any thread.
void scheduleExit(std::chrono::milliseconds delay);

}  // namespace MainLoop
