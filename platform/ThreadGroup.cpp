#include "platform/ThreadGroup.h"

#include <system_error>

ThreadGroup::~ThreadGroup() {
    std::list<Member> all;
    {
        std::lock_guard lock(mutex_);
        all.swap(members_);
    }
    for (auto& member : all) member.thread.join();
}

bool ThreadGroup::start(std::function<void()> work) {
    joinFinished();
    std::lock_guard lock(mutex_);
    auto member = members_.emplace(members_.end());
    try {
        member->thread = std::thread([this, member, work = std::move(work)] {
            work();
            std::lock_guard done(mutex_);
            member->finished = true;
        });
    } catch (const std::system_error&) {
        members_.erase(member);
        return false;
    }
    return true;
}

void ThreadGroup::joinFinished() {
    std::list<Member> finished;
    {
        std::lock_guard lock(mutex_);
        for (auto member = members_.begin(); member != members_.end();) {
            const auto next = std::next(member);
            if (member->finished) finished.splice(finished.end(), members_, member);
            member = next;
        }
    }
    // A finished thread has nothing left to run but its return.
    for (auto& member : finished) member.thread.join();
}
