#include "platform/os/ThreadGroup.h"

#include <system_error>

ThreadGroup::~ThreadGroup() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (joiner_.joinable()) joiner_.join();
}

bool ThreadGroup::start(std::function<void()> work) {
    std::lock_guard lock(mutex_);
    if (!joiner_.joinable()) {
        try {
            joiner_ = std::thread([this] { joinFinished(); });
        } catch (const std::system_error&) {
            return false;
        }
    }
    auto member = members_.emplace(members_.end());
    try {
        member->thread = std::thread([this, member, work = std::move(work)] {
            work();
            {
                std::lock_guard done(mutex_);
                member->finished = true;
            }
            changed_.notify_all();
        });
    } catch (const std::system_error&) {
        members_.erase(member);
        return false;
    }
    return true;
}

void ThreadGroup::joinFinished() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] {
            if (stopping_ && members_.empty()) return true;
            for (const auto& member : members_) {
                if (member.finished) return true;
            }
            return false;
        });
        if (stopping_ && members_.empty()) return;
        std::list<Member> finished;
        for (auto member = members_.begin(); member != members_.end();) {
            const auto next = std::next(member);
            if (member->finished) finished.splice(finished.end(), members_, member);
            member = next;
        }
        lock.unlock();
        // A finished thread has nothing left to run but its return.
        for (auto& member : finished) member.thread.join();
        lock.lock();
    }
}
