// The timeline text format: positions, keys, camera moves and the error lines.
#include "tools/datagen/timeline.h"

#include <gtest/gtest.h>

namespace lumo::datagen {
namespace {

TEST(TimelinePosition, BarsBeatsAndRows) {
    int row = -1;
    EXPECT_TRUE(parsePosition("0:0", row));
    EXPECT_EQ(row, 0);
    EXPECT_TRUE(parsePosition("3:2", row));
    EXPECT_EQ(row, 3 * 32 + 16);
    EXPECT_TRUE(parsePosition("3:2+5", row));
    EXPECT_EQ(row, 3 * 32 + 16 + 5);
    EXPECT_TRUE(parsePosition("1:0.5", row)); // half a beat is four rows
    EXPECT_EQ(row, 36);
    EXPECT_TRUE(parsePosition("123", row));
    EXPECT_EQ(row, 123);
    for (const char* bad : {"", ":", "1:", "a:1", "1:0.3", "-1", "1:-1", "1:2+x", "1:2+", "7x"}) {
        EXPECT_FALSE(parsePosition(bad, row)) << bad;
    }
}

TEST(TimelineParse, KeysSortedPerTrackWithInterpolation) {
    Timeline t;
    std::string error;
    ASSERT_TRUE(parseTimeline("# comment\r\nexpos 2:0 0 hold\nexpos 0:0 -1 linear  # fade\n"
                              "scene 0:0 7 hold\nblur 1:0 3 smooth\nblur 1:1 2 quad\n",
                              "t", t, error))
        << error;
    ASSERT_EQ(t.tracks.size(), 19u);
    ASSERT_EQ(t.tracks["expos"].size(), 2u);
    EXPECT_EQ(t.tracks["expos"][0].row, 0);
    EXPECT_EQ(t.tracks["expos"][0].value, -1.0f);
    EXPECT_EQ(t.tracks["expos"][0].interp, Linear);
    EXPECT_EQ(t.tracks["expos"][1].row, 64);
    EXPECT_EQ(t.tracks["blur"][0].interp, Smoothstep);
    EXPECT_EQ(t.tracks["blur"][1].interp, Quadratic);
    EXPECT_TRUE(t.tracks["greet"].empty());
    EXPECT_EQ(t.lastRow, 64);
}

TEST(TimelineParse, CameraMovesChainAndTheirEndsGiveWay) {
    Timeline t;
    std::string error;
    ASSERT_TRUE(parseTimeline("cam 0:0 1:0 1 3 smooth\ncam 1:0 2:0 3 5 linear\n", "t", t, error))
        << error;
    // Each move reaches 1 on the row before the next one starts at 0.
    const auto& ct = t.tracks["cam_t"];
    ASSERT_EQ(ct.size(), 4u);
    EXPECT_EQ(ct[0].row, 0);
    EXPECT_EQ(ct[0].interp, Smoothstep);
    EXPECT_EQ(ct[1].row, 31);
    EXPECT_EQ(ct[1].value, 1.0f);
    EXPECT_EQ(ct[2].row, 32);
    EXPECT_EQ(ct[2].value, 0.0f);
    EXPECT_EQ(ct[2].interp, Linear);
    EXPECT_EQ(ct[3].row, 63);
    EXPECT_EQ(ct[3].value, 1.0f);
    EXPECT_EQ(t.tracks["cam_a"][1].value, 3.0f);
    EXPECT_EQ(t.tracks["cam_b"][1].value, 5.0f);
    // The camera really travels: halfway through the first move it is between keys.
    SyncTrack track("cam_t");
    track.keys = ct;
    track.keyCount = int32_t(ct.size());
    EXPECT_NEAR(track.valueAt(15.5), 0.5, 1e-6);
    EXPECT_EQ(track.valueAt(31.9), 1.0f);
    // An explicit key on a move's closing row replaces the move's closing key.
    ASSERT_TRUE(parseTimeline("cam 0:0 1:0 1 3 smooth\ncam_t 31 0.5 hold\n", "t", t, error));
    EXPECT_EQ(t.tracks["cam_t"][1].value, 0.5f);
}

TEST(TimelineParse, ErrorsNameTheLine) {
    Timeline t;
    std::string error;
    EXPECT_FALSE(parseTimeline("scene 0:0 1 hold\nscen 1:0 2 hold\n", "tl.txt", t, error));
    EXPECT_EQ(error, "tl.txt:2: unknown track \"scen\"");
    EXPECT_FALSE(parseTimeline("scene 0:0 1 hold\nscene 0:0 2 hold\n", "tl.txt", t, error));
    EXPECT_NE(error.find("tl.txt:2:"), std::string::npos);
    EXPECT_NE(error.find("line 1"), std::string::npos);
    EXPECT_FALSE(parseTimeline("scene 0:0 1 wobble\n", "x", t, error));
    EXPECT_NE(error.find("unknown interpolation"), std::string::npos);
    EXPECT_FALSE(parseTimeline("scene 0:0 nan hold\n", "x", t, error));
    EXPECT_FALSE(parseTimeline("scene 0:0 1\n", "x", t, error));
    EXPECT_FALSE(parseTimeline("cam 1:0 0:0 1 2 linear\n", "x", t, error));
    EXPECT_FALSE(parseTimeline("cam 32 33 1 2 linear\n", "x", t, error)); // no room to move
    EXPECT_FALSE(parseTimeline("cam 0:0 1:0 1 23 linear\n", "x", t, error));
}

} // namespace
} // namespace lumo::datagen
