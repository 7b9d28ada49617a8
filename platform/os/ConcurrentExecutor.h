#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Runs tasks that may block (one connection's launch-job change sequences) on
// up to `maxThreads` threads of its own, side by side and in no particular
// order. A thread is started when a task finds none idle, and kept until the
// executor is destroyed. Destroying it runs the tasks still queued, then joins
// every thread: it must not be destroyed by one of its own tasks.
class ConcurrentExecutor {
public:
    explicit ConcurrentExecutor(unsigned maxThreads) : maxThreads_(maxThreads) {}
    ~ConcurrentExecutor();
    ConcurrentExecutor(const ConcurrentExecutor&) = delete;
    ConcurrentExecutor& operator=(const ConcurrentExecutor&) = delete;

    // Queues the task and returns at once; when no thread can be started at
    // all, runs it before returning. An exception leaving a task ends only
    // that task.
    void submit(std::function<void()> task);

private:
    void work();

    const unsigned maxThreads_;
    std::mutex lock_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> tasks_;
    std::vector<std::thread> threads_;
    unsigned idle_ = 0;
    bool stopping_ = false;
};
