#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// The platform's one executor: runs tasks on up to `maxThreads` threads of its
// own, taken from one queue in the order submitted and run side by side (one
// thread: a serial queue). It serves a connection's launch-job change
// sequences, which may block, and the listener's admission workers. Threads
// are kept until the executor is destroyed. Destroying it runs the tasks still
// queued, then joins every thread: it must not be destroyed by one of its own
// tasks.
class ConcurrentExecutor {
public:
    // When the threads start: each when a task finds none idle, or all of them
    // when the executor is made (which throws std::system_error, with none left
    // running, when one cannot be started).
    enum class Start { onDemand, allAtOnce };

    explicit ConcurrentExecutor(unsigned maxThreads, Start start = Start::onDemand);
    ~ConcurrentExecutor();
    ConcurrentExecutor(const ConcurrentExecutor&) = delete;
    ConcurrentExecutor& operator=(const ConcurrentExecutor&) = delete;

    // Queues the task and returns at once; when no thread can be started at
    // all, runs it before returning. An exception leaving a task ends only
    // that task.
    void submit(std::function<void()> task);

private:
    void work();
    void stop() noexcept;

    const unsigned maxThreads_;
    std::mutex lock_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> tasks_;
    std::vector<std::thread> threads_;
    unsigned idle_ = 0;
    bool stopping_ = false;
};
