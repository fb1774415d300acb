#include "sys/threads.h"

#include <gtest/gtest.h>

#include <thread>

namespace lumo::sys {
namespace {

TEST(Threads, PinningFollowsTheAffinityMask) {
    const std::vector<int> ids = affinityProcessors();
    ASSERT_FALSE(ids.empty());
    // Run in a thread of its own so the test process's main thread stays free.
    std::thread([&] {
        pinToFirstProcessor();
        EXPECT_EQ(pinnedProcessor(), ids.front());
    }).join();
    std::thread worker([] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); });
    pinThread(worker, ids.back());
    worker.join();
    if (ids.size() > 1) {
        EXPECT_EQ(pinnedProcessor(), -1) << "the test's main thread was never pinned";
    }
}

TEST(Threads, ProcessorClocksAdvanceWithWork) {
    const double thread0 = threadCpuSeconds(), process0 = processCpuSeconds();
    while (threadCpuSeconds() - thread0 < 0.02) {
        // Reading the clock is the work.
    }
    // The two clocks tick at their own granularity: allow a little slack.
    EXPECT_GE(processCpuSeconds() - process0, 0.015);
}

} // namespace
} // namespace lumo::sys
