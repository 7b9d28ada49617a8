#pragma once

#include <functional>
#include <list>
#include <mutex>
#include <thread>

// Threads started for work that ends on its own (a connection's life). Each
// is joined: those that have finished when the next one starts, the rest when
// the group goes, so that no thread outlives its owner.
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
    std::list<Member> members_;
};
