#include "app/pacing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace lumo {
namespace {

// A loop on a fake clock: each frame renders for `work` seconds, presents for
// `present` seconds, then sleeps until the pacer's answer. Returns the start
// time of every frame.
std::vector<double> run(FramePacer& pacer, int frames, double work, double present,
                        double stallAt = -1.0, double stall = 0.0) {
    std::vector<double> starts;
    double t = 0.0;
    for (int i = 0; i < frames; ++i) {
        starts.push_back(t);
        t += work + (i == int(stallAt) ? stall : 0.0);
        const double end = t + present;
        t = std::max(end, pacer.framePresented(t, end));
    }
    return starts;
}

TEST(FramePacer, DeadlinesAtTheRefreshIntervalWithoutDrift) {
    FramePacer pacer(60.0, true);
    const std::vector<double> starts = run(pacer, 10001, 0.004, 0.0005);
    // Frame 1 starts one interval after frame 0's present; every later one a
    // whole number of intervals after that, to the rounding of one product.
    const double anchor = 0.0045;
    for (int i = 1; i <= 10000; i += 999) {
        EXPECT_NEAR(starts[size_t(i)], anchor + i / 60.0, 1e-9) << i;
    }
    EXPECT_NEAR(starts.back() - starts[1], 9999 / 60.0, 1e-9);
    EXPECT_FALSE(pacer.displayPaces());
}

TEST(FramePacer, AStallResumesOnTheNextDeadlineWithoutABurst) {
    FramePacer pacer(60.0, true);
    const std::vector<double> starts = run(pacer, 100, 0.004, 0.0005, 50, 0.5);
    for (size_t i = 2; i < starts.size(); ++i) {
        const double gap = starts[i] - starts[i - 1];
        // No two frames closer than one interval; the stalled frame's gap is
        // its own length rounded up to the grid.
        EXPECT_GE(gap, 1 / 60.0 - 1e-9) << i;
        const double onGrid = (starts[i] - starts[1]) * 60.0;
        EXPECT_NEAR(onGrid, std::round(onGrid), 1e-6) << i;
    }
    EXPECT_NEAR(starts[51] - starts[50], std::ceil((0.5045) * 60.0) / 60.0, 1e-9);
}

TEST(FramePacer, UnknownOrAbsurdRefreshRatesMeanSixtyHertz) {
    for (double hz : {0.0, -5.0, 1e6, 3.0, std::numeric_limits<double>::quiet_NaN(),
                      std::numeric_limits<double>::infinity()}) {
        EXPECT_DOUBLE_EQ(FramePacer(hz, true).interval(), 1.0 / 60.0) << hz;
    }
    EXPECT_DOUBLE_EQ(FramePacer(144.0, true).interval(), 1.0 / 144.0);
}

// A present set up to wait for the display (vsync) that does wait paces the
// loop by itself: the pacer soon stops adding sleeps of its own. A slow present
// that was never set up to wait (a busy machine) does not fool it.
TEST(FramePacer, APresentThatWaitsIsLeftToPace) {
    for (bool mayWait : {true, false}) {
        FramePacer pacer(60.0, mayWait);
        double t = 0.0, slept = 0.0;
        for (int i = 0; i < 100; ++i) {
            t += 0.003;
            const double end = t + 0.008; // half an interval in every present
            const double next = pacer.framePresented(t, end);
            if (i >= 30) {
                slept += std::max(0.0, next - end);
            }
            t = std::max(end, next);
        }
        EXPECT_EQ(pacer.displayPaces(), mayWait);
        EXPECT_NEAR(slept, mayWait ? 0.0 : 70 * (1 / 60.0 - 0.011), 1e-9) << mayWait;
    }
}

} // namespace
} // namespace lumo
