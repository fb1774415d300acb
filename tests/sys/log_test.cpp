#include "sys/log.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace lumo {
namespace {

TEST(Log, CaptureTakesFormattedTextAndNestsBackToThePreviousSink) {
    LogCapture outer;
    logPrintf("TLR: my width(%d), and height(%d)\n", 640, 360);
    {
        LogCapture inner;
        logPrintf("%s", std::string(2000, 'x').c_str()); // longer than the stack buffer
        EXPECT_EQ(inner.text(), std::string(2000, 'x'));
    }
    logPrintf("after\n");
    EXPECT_EQ(outer.text(), "TLR: my width(640), and height(360)\nafter\n");
}

TEST(Log, DroppingCaptureKeepsNothingAndWorkersMayLogAtOnce) {
    LogCapture kept;
    {
        LogCapture dropped(false);
        logPrintf("gone\n");
        EXPECT_EQ(dropped.text(), "");
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 200; ++i) {
                logPrintf("0123456789\n");
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    const std::string text = kept.text();
    ASSERT_EQ(text.size(), 4u * 200u * 11u);
    for (size_t i = 0; i < text.size(); i += 11) {
        ASSERT_EQ(text.compare(i, 11, "0123456789\n"), 0) << "lines interleaved at " << i;
    }
}

} // namespace
} // namespace lumo
