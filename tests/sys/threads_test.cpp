#include "sys/threads.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
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

// Background priority is the calling thread's own: the rest of the process
// keeps its priority.
TEST(Threads, BackgroundPriorityIsPerThread) {
    const int before = getpriority(PRIO_PROCESS, 0);
    int lowered = 0;
    std::thread([&] {
        ASSERT_TRUE(runInBackground());
        lowered = getpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)));
    }).join();
    EXPECT_EQ(lowered, std::max(before, kBackgroundNice));
    EXPECT_EQ(getpriority(PRIO_PROCESS, 0), before);
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
