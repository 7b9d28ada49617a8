#include "platform/os/ConcurrentExecutor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

namespace {

// Each task waits until as many as the executor may run have started, which
// only happens when they really run side by side; one more task, queued behind
// them, and tasks that throw are run all the same before destruction returns.
TEST(ConcurrentExecutor, RunsTasksSideBySideAndFinishesTheQueueBeforeItEnds) {
    constexpr unsigned threads = 3;
    std::atomic<unsigned> started{0};
    std::atomic<unsigned> finished{0};
    {
        ConcurrentExecutor executor(threads);
        executor.submit([] { throw std::runtime_error("task failed"); });
        for (unsigned i = 0; i < threads; ++i)
            executor.submit([&] {
                ++started;
                while (started.load() < threads) std::this_thread::yield();
                ++finished;
            });
        executor.submit([] { throw std::runtime_error("task failed"); });
        executor.submit([&] { ++finished; });
    }
    EXPECT_EQ(finished.load(), threads + 1);
}

}  // namespace
