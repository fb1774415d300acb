// The timeline text format: positions, keys, camera moves and the error lines.
#include "tools/datagen/timeline.h"

#include <gtest/gtest.h>

#include <tuple>

namespace lumo::datagen {
namespace {

using Key = std::tuple<int, float, KeyInterp>;

std::vector<Key> keysOf(const std::vector<TrackKey>& keys) {
    std::vector<Key> out;
    for (const TrackKey& k : keys) {
        out.emplace_back(k.row, k.value, k.interp);
    }
    return out;
}

TEST(TimelinePosition, BarsBeatsAndRows) {
    // A bar is 32 rows, a beat 8; half a beat is four rows.
    for (auto [text, expected] : {std::pair{"0:0", 0},
                                  {"3:2", 3 * 32 + 16},
                                  {"3:2+5", 3 * 32 + 16 + 5},
                                  {"1:0.5", 36},
                                  {"123", 123}}) {
        int row = -1;
        EXPECT_TRUE(parsePosition(text, row) && row == expected) << text << " gave " << row;
    }
    int row = 0;
    for (const char* bad : {"", ":", "1:", "a:1", "1:0.3", "-1", "1:-1", "1:2+x", "1:2+", "7x"}) {
        EXPECT_FALSE(parsePosition(bad, row)) << bad;
    }
}

// Keys sorted per track with their interpolation; camera moves chain, each
// reaching 1 on the row before the next one starts at 0.
TEST(TimelineParse, KeysAndCameraMoves) {
    Timeline t;
    std::string error;
    ASSERT_TRUE(parseTimeline("# comment\r\nexpos 2:0 0 hold\nexpos 0:0 -1 linear  # fade\n"
                              "blur 1:0 3 smooth\nblur 1:1 2 quad\n"
                              "cam 0:0 1:0 1 3 smooth\ncam 1:0 2:0 3 5 linear\n",
                              "t", t, error))
        << error;
    ASSERT_EQ(t.tracks.size(), 19u);
    EXPECT_EQ(keysOf(t.tracks["expos"]),
              (std::vector<Key>{{0, -1.0f, KeyInterp::Linear}, {64, 0.0f, KeyInterp::Hold}}));
    EXPECT_EQ(keysOf(t.tracks["blur"]), (std::vector<Key>{{32, 3.0f, KeyInterp::Smoothstep},
                                                          {40, 2.0f, KeyInterp::Quadratic}}));
    EXPECT_EQ(keysOf(t.tracks["cam_t"]), (std::vector<Key>{{0, 0.0f, KeyInterp::Smoothstep},
                                                           {31, 1.0f, KeyInterp::Hold},
                                                           {32, 0.0f, KeyInterp::Linear},
                                                           {63, 1.0f, KeyInterp::Hold}}));
    EXPECT_EQ(t.tracks["cam_a"][1].value, 3.0f);
    EXPECT_EQ(t.tracks["cam_b"][1].value, 5.0f);
    EXPECT_EQ(t.lastRow, 64);
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
    EXPECT_EQ(error.rfind("tl.txt:2:", 0), 0u);
    EXPECT_NE(error.find("line 1"), std::string::npos);
    for (const char* bad :
         {"scene 0:0 1 wobble\n", "scene 0:0 nan hold\n", "scene 0:0 1\n",
          // Finite as a double but infinite as the track's float.
          "expos 0:0 1e39 hold\n", "expos 0:0 -3.5e38 hold\n", "cam 1:0 0:0 1 2 linear\n",
          "cam 32 33 1 2 linear\n", "cam 0:0 1:0 1 23 linear\n"}) {
        EXPECT_FALSE(parseTimeline(bad, "x", t, error)) << bad;
        EXPECT_EQ(error.rfind("x:1: ", 0), 0u) << error;
    }
}

} // namespace
} // namespace lumo::datagen
