#include "platform/os/ConcurrentExecutor.h"

#include <system_error>

namespace {

void run(const std::function<void()>& task) {
    try {
        task();
    } catch (...) {
        // A task answers its own failures; its thread stays.
    }
}

}  // namespace

ConcurrentExecutor::ConcurrentExecutor(unsigned maxThreads, Start start) : maxThreads_(maxThreads) {
    if (start == Start::onDemand) return;
    try {
        for (unsigned i = 0; i < maxThreads_; ++i) threads_.emplace_back([this] { work(); });
    } catch (...) {
        stop();
        throw;
    }
}

ConcurrentExecutor::~ConcurrentExecutor() { stop(); }

void ConcurrentExecutor::stop() noexcept {
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
    }
    ready_.notify_all();
    for (auto& thread : threads_) thread.join();
}

void ConcurrentExecutor::submit(std::function<void()> task) {
    {
        std::lock_guard guard(lock_);
        tasks_.push_back(std::move(task));
        ready_.notify_one();
        // Each queued task needs an idle thread of its own: an idle thread that
        // has been woken but has not yet taken its task is still counted idle.
        if (tasks_.size() <= idle_ || threads_.size() >= maxThreads_) return;
        try {
            threads_.emplace_back([this] { work(); });
            return;
        } catch (const std::system_error&) {
            if (!threads_.empty()) return;
            task = std::move(tasks_.back());
            tasks_.pop_back();
        }
    }
    run(task);
}

void ConcurrentExecutor::work() {
    std::unique_lock guard(lock_);
    for (;;) {
        ++idle_;
        ready_.wait(guard, [this] { return stopping_ || !tasks_.empty(); });
        --idle_;
        if (tasks_.empty()) return;
        std::function<void()> task = std::move(tasks_.front());
        tasks_.pop_front();
        guard.unlock();
        run(task);
        task = nullptr;  // what the task held goes before the next one is taken
        guard.lock();
    }
}
