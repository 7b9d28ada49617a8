#pragma once

#include <functional>

// The shared concurrent executor: a small fixed pool of threads, started on
// first use and kept for the life of the process, that runs tasks which may
// block (the launch-job change sequences). Tasks run in no particular order
// relative to each other.
namespace SharedExecutor {

// The number of threads in the pool.
inline constexpr unsigned threadCount = 4;

// Queues the task and returns at once. An exception leaving a task ends only
// that task.
void submit(std::function<void()> task);

}  // namespace SharedExecutor
