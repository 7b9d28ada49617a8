#include "platform/admission/PerUserLimit.h"

PerUserLimit::Slot::~Slot() {
    std::lock_guard lock(counts_->mutex);
    const auto entry = counts_->open.find(user_);
    if (--entry->second == 0) counts_->open.erase(entry);
}

std::unique_ptr<PerUserLimit::Slot> PerUserLimit::take(uid_t user) {
    {
        std::lock_guard lock(counts_->mutex);
        std::size_t& open = counts_->open[user];
        if (open >= limit) return nullptr;
        ++open;
    }
    return std::make_unique<Slot>(counts_, user);
}
