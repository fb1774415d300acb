#include "sys/log.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace lumo {
namespace {

// Captures nest and give the sink back to the one before them; a dropping one
// keeps nothing; workers logging at once never interleave within a line.
TEST(Log, CapturesNestDropAndTakeWholeLinesFromManyThreads) {
    LogCapture outer;
    logPrintf("TLR: my width(%d), and height(%d)\n", 640, 360);
    {
        LogCapture inner;
        logPrintf("%s", std::string(2000, 'x').c_str()); // longer than the stack buffer
        LogCapture dropped(false);
        logPrintf("gone\n");
        EXPECT_EQ(dropped.text(), "");
        EXPECT_EQ(inner.text(), std::string(2000, 'x'));
    }
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([] {
                for (int i = 0; i < 200; ++i) {
                    logPrintf("0123456789\n");
                }
            });
        }
    }
    std::string expected = "TLR: my width(640), and height(360)\n";
    for (int i = 0; i < 4 * 200; ++i) {
        expected += "0123456789\n";
    }
    EXPECT_TRUE(outer.text() == expected) << "lines lost or interleaved";
}

} // namespace
} // namespace lumo
