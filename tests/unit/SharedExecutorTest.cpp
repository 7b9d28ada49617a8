#include "helper/SharedExecutor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <vector>

namespace {

// Every thread of the pool holds a task at once: each waits until all have
// started, which only happens when they really run side by side.
TEST(SharedExecutor, TasksRunSideBySide) {
    std::atomic<unsigned> started{0};
    std::vector<std::future<void>> done;
    for (unsigned i = 0; i < SharedExecutor::threadCount; ++i) {
        auto finished = std::make_shared<std::promise<void>>();
        done.push_back(finished->get_future());
        SharedExecutor::submit([&started, finished] {
            ++started;
            while (started.load() < SharedExecutor::threadCount) std::this_thread::yield();
            finished->set_value();
        });
    }
    for (auto& f : done) EXPECT_EQ(f.wait_for(std::chrono::seconds(30)), std::future_status::ready);
}

TEST(SharedExecutor, AThrowingTaskLeavesThePoolWorking) {
    for (unsigned i = 0; i < SharedExecutor::threadCount * 2; ++i)
        SharedExecutor::submit([] { throw std::runtime_error("task failed"); });
    std::promise<int> answer;
    SharedExecutor::submit([&answer] { answer.set_value(42); });
    auto result = answer.get_future();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(result.get(), 42);
}

}  // namespace
