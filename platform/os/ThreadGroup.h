#pragma once

#include <condition_variable>
#include <functional>
#include <list>
#include <mutex>
#include <thread>

// Threads started for work that ends on its own (a connection's life). Each
// is joined as soon as its work has returned, by the group's own thread
// (started with the first, so from the same thread and under the same
// confinement); when the group goes it waits for every thread still at work,
// so that none outlives its owner.
class ThreadGroup {
public:
    ThreadGroup() = default;
    ~ThreadGroup();
    ThreadGroup(const ThreadGroup&) = delete;
    ThreadGroup& operator=(const ThreadGroup&) = delete;

    // Runs `work` on a new thread; false when no thread could be made.
    bool start(std::function<void()> work);

private:
    struct Member {
        std::thread thread;
        bool finished = false;
    };
    void joinFinished();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::list<Member> members_;  // at work, or finished and not joined yet
    bool stopping_ = false;
    std::thread joiner_;
};
