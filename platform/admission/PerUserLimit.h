#pragma once

#include <sys/types.h>

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>

// How many connections each user has open, up to a fixed limit.
class PerUserLimit {
    struct Counts {
        std::mutex mutex;
        std::map<uid_t, std::size_t> open;
    };

public:
    static constexpr std::size_t limit = 64;

    // One counted connection: the count drops when it goes.
    class Slot {
    public:
        Slot(std::shared_ptr<Counts> counts, uid_t user) : counts_(std::move(counts)), user_(user) {}
        ~Slot();
        Slot(const Slot&) = delete;
        Slot& operator=(const Slot&) = delete;

    private:
        std::shared_ptr<Counts> counts_;
        uid_t user_;
    };

    // A slot for one more connection of `user`; nothing when the user already
    // has `limit` open.
    std::unique_ptr<Slot> take(uid_t user);

private:
    std::shared_ptr<Counts> counts_ = std::make_shared<Counts>();
};
