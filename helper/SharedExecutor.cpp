#include "helper/SharedExecutor.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace SharedExecutor {

namespace {

struct Pool {
    std::mutex lock;
    std::condition_variable ready;
    std::deque<std::function<void()>> tasks;

    void work() {
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock guard(lock);
                ready.wait(guard, [this] { return !tasks.empty(); });
                task = std::move(tasks.front());
                tasks.pop_front();
            }
            try {
                task();
            } catch (...) {
                // A task answers its own failures; the worker stays.
            }
        }
    }
};

// The pool is never destroyed: its threads may still be running or waiting
// when the process exits, so it must outlive every static destructor.
Pool& pool() {
    static Pool* instance = [] {
        auto* created = new Pool;
        for (unsigned i = 0; i < threadCount; ++i) std::thread([created] { created->work(); }).detach();
        return created;
    }();
    return *instance;
}

}  // namespace

void submit(std::function<void()> task) {
    Pool& shared = pool();
    {
        std::lock_guard guard(shared.lock);
        shared.tasks.push_back(std::move(task));
    }
    shared.ready.notify_one();
}

}  // namespace SharedExecutor
