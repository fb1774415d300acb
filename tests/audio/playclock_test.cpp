#include "audio/playclock.h"

#include <gtest/gtest.h>

namespace lumo {
namespace {

constexpr uint64_t kRate = 176400;         // bytes per second
constexpr double kBuffer = 4096.0 / kRate; // one 1024-frame buffer in seconds

TEST(PlaybackClock, StandsStillUntilABufferThenMovesInWholeFramesUpToItsEnd) {
    PlaybackClock c(kRate);
    EXPECT_EQ(c.position(100.0), 0u);
    c.bufferTaken(100000, 100400, 3.0); // the stream's last 100 frames
    EXPECT_EQ(c.position(4.0), 100400u);
    c.reset(0); // a restart: still again until the next buffer
    EXPECT_EQ(c.position(5.0), 0u);

    c.bufferTaken(0, 4096, 10.0);
    EXPECT_EQ(c.position(10.0), 0u);
    // 1/4096 s is 43.07 bytes: 10 whole frames.
    EXPECT_EQ(c.position(10.0 + 1.0 / 4096), 40u);
    // A late callback: the clock waits at the end of what the output has.
    EXPECT_EQ(c.position(10.0 + 5 * kBuffer), 4096u);
    c.bufferTaken(4096, 8192, 10.0 + 5 * kBuffer);
    EXPECT_EQ(c.position(10.0 + 5 * kBuffer), 4096u);
    EXPECT_EQ(c.position(10.0 + 7 * kBuffer), 8192u);
}

TEST(PlaybackClock, NeverGoesBackwards) {
    PlaybackClock c(kRate);
    c.bufferTaken(0, 4096, 1.0);
    uint64_t late = c.position(1.0 + 0.9 * kBuffer);
    // A reader with a stale time after a newer reading, and an early callback
    // whose buffer starts where the previous one ended.
    EXPECT_EQ(c.position(1.0), late);
    c.bufferTaken(4096, 8192, 1.0 + 0.5 * kBuffer);
    EXPECT_EQ(c.position(1.0 + 0.5 * kBuffer), 4096u);
    EXPECT_GE(c.position(0.0), 4096u);
}

// With the device holding one buffer beyond the one being filled, the clock
// is what is heard: a buffer behind what was taken, 0 rather than below it at
// the start, moving on through the device's buffer after the last one taken
// (and never past it), and still never backwards.
TEST(PlaybackClock, TheDevicesBufferIsHeardLater) {
    PlaybackClock c(kRate);
    c.setLatency(4096);
    c.bufferTaken(0, 4096, 1.0);
    EXPECT_EQ(c.position(1.0 + 0.5 * kBuffer), 0u);
    EXPECT_EQ(c.position(1.0 + 1.5 * kBuffer), 2048u);
    c.bufferTaken(4096, 8192, 1.0 + kBuffer); // the next callback, on time
    EXPECT_EQ(c.position(1.0 + 1.5 * kBuffer), 2048u);
    EXPECT_EQ(c.position(1.0 + 2.5 * kBuffer), 6144u);
    EXPECT_EQ(c.position(1.0 + 9 * kBuffer), 8192u); // the music's end is reached
    EXPECT_EQ(c.position(1.0), 8192u);
}

} // namespace
} // namespace lumo
