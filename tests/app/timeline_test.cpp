// The timeline: rows from seconds, the rounding of integer choices, the two
// distance clocks and the plan of frames and samples over the music.

#include "app/timeline.h"
#include "audio/mp3.h"
#include "params/track.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <vector>

using namespace lumo;

TEST(Timeline, RowsAndTheRoundingOfChoices) {
    // trunc(v + 0.5) in single precision: halves go up, negative values lean
    // towards zero, and the float sum rounds before the truncation.
    EXPECT_EQ(roundChoice(2.5f), 3);
    EXPECT_EQ(roundChoice(2.4999998f), 2);
    EXPECT_EQ(roundChoice(-2.5f), -2);
    EXPECT_EQ(roundChoice(-2.6f), -2);
    EXPECT_EQ(roundChoice(-0.5f), 0);
    EXPECT_EQ(roundChoice(-0.50000006f), 0); // -6e-8 truncates to 0
    EXPECT_EQ(roundChoice(-1.5f), -1);
    EXPECT_EQ(roundChoice(0.49999997f), 1);      // 0.99999997 is no float: the sum is 1
    EXPECT_EQ(roundChoice(8388609.0f), 8388610); // 8388609.5 is no float either
    // Saturation instead of undefined conversions; NaN chooses 0.
    EXPECT_EQ(roundChoice(1e20f), INT_MAX);
    EXPECT_EQ(roundChoice(-1e20f), INT_MIN);
    EXPECT_EQ(roundChoice(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(truncChoice(-0.9f), 0);
    EXPECT_EQ(truncChoice(2147483520.0f), INT_MAX);
    EXPECT_EQ(truncChoice(2147483392.0f), 2147483392); // the largest float below the limit
}

TEST(Timeline, DistanceByFixedStepsAndLive) {
    EXPECT_EQ(distanceAt(nullptr, 5.0), 0.0);
    // A ramp from 0 at row 0 to 1 at row 44 (3 s): the integral to 3 s is 1.5.
    SyncTrack ramp("speed");
    ramp.keys = {{0, 0.0f, KeyInterp::Linear}, {44, 1.0f, KeyInterp::Hold}};
    ramp.keyCount = 2;
    EXPECT_NEAR(distanceAt(&ramp, 3.0), 1.5, 0.01);
    EXPECT_EQ(distanceAt(&ramp, -5.0), 0.0);
    // A clock asked in order answers exactly what a fresh sum does, and one
    // asked backwards starts again.
    DistanceClock clock;
    for (double s : {0.5, 1.0, 1.0 + 1e-9, 2.7, 1.3, 4e6}) {
        EXPECT_EQ(clock.at(&ramp, s), distanceAt(&ramp, s)) << s;
    }
    // Past the last key the speed is constant: far positions are one product.
    EXPECT_NEAR(distanceAt(&ramp, 1e9), 1.5 + (1e9 - 3.0), 1.0);
    EXPECT_TRUE(std::isfinite(distanceAt(&ramp, 1e300)));

    // Live, each frame adds the speed at its row times its length.
    LiveDistance live;
    live.advance(&ramp, 22.0, 0.02);
    EXPECT_EQ(live.advance(&ramp, 44.0, 0.01), 0.5 * 0.02 + 1.0 * 0.01);
    EXPECT_EQ(live.advance(nullptr, 44.0, 1.0), live.value());
}

// A span that is no whole number of frames gets the frame that starts in it, a
// frame exactly at `to` is not in the span whatever the rounding of the product,
// and a span shorter than one frame still has its first frame. The audio lasts
// as long as the frames, rounded to the nearest sample, halves up (a 60 fps
// frame is 735 samples, an 8 fps one 5512.5). No `to`: up to the end of the
// music; exactly the end or beyond: the end, clamped only beyond.
TEST(Timeline, PlanCoversFramesAndSamplesOfTheSameSpanInsideTheMusic) {
    // From, to, frames per second; frames, first sample, samples, clamped.
    for (auto [from, to, fps, frames, first, samples, clamped] :
         {std::tuple{0.25, 1.0, 3, 3, uint64_t(11025), uint64_t(44100), false},
          {0.0, 1.5, 10, 15, 0, 66150, false},
          {0.0, 0.7, 10, 7, 0, 30870, false},
          {0.0, 0.7001, 10, 8, 0, 35280, false},
          {2.0, 2.001, 60, 1, 88200, 735, false},
          {0.5 / 44100, 1.0, 8, 8, 1, 44100, false},
          {98.0, -1.0, 30, 60, 4321800, 88200, false},
          {98.0, 100.0, 30, 60, 4321800, 88200, false},
          {98.0, 500.0, 30, 60, 4321800, 88200, true},
          {99.999, -1.0, 10, 1, 4409956, 4410, false}}) {
        CapturePlan plan;
        std::string error;
        ASSERT_TRUE(planCapture(from, to, fps, 100.0, 44100, plan, error)) << error;
        EXPECT_EQ(std::tuple(plan.frameCount, plan.firstSample, plan.sampleCount, plan.clamped),
                  std::tuple(frames, first, samples, clamped))
            << from << " to " << to << " at " << fps;
        EXPECT_EQ(plan.to, to < 0 || to > 100 ? 100.0 : to);
        EXPECT_DOUBLE_EQ(plan.framePosition(2), from + 2.0 / fps);
        if (fps == 8) {
            EXPECT_EQ(plan.samplesForFrames(1), 5513u);
            EXPECT_EQ(plan.samplesForFrames(2), 11025u);
        }
    }

    // The start must lie inside the music, the end after the start.
    CapturePlan plan;
    std::string error;
    for (auto [from, to, fps, message] : {std::tuple{100.0, -1.0, 10, "beyond the end"},
                                          {-0.001, -1.0, 10, "beyond the end"},
                                          {std::nan(""), -1.0, 10, "beyond the end"},
                                          {5.0, 5.0, 10, "--to must come after"},
                                          {0.0, 1.0, 0, "frame rate"},
                                          {0.0, -1.0, 2000000, "more frames"}}) {
        EXPECT_FALSE(planCapture(from, to, fps, 100.0, 44100, plan, error)) << from;
        EXPECT_NE(error.find(message), std::string::npos) << error;
    }
}

TEST(Timeline, AudioSpanIsTheMusicPaddedWithSilence) {
    DecodedAudio music;
    music.samples = {1, -1, 2, -2, 3, -3};
    EXPECT_EQ(audioSpan(music, 1, 4), (std::vector<int16_t>{2, -2, 3, -3, 0, 0, 0, 0}));
    EXPECT_EQ(audioSpan(music, 10, 1), (std::vector<int16_t>{0, 0}));
    EXPECT_EQ(audioSpan(music, 0, 3), (std::vector<int16_t>{1, -1, 2, -2, 3, -3}));
}
