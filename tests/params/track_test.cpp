#include "params/track.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace lumo;
using enum KeyInterp;
namespace fs = std::filesystem;

namespace {

class TrackFiles : public testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("lumo_tracks_" + std::to_string(getpid()) + "_" +
               testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
        base = (dir / "sync").string();
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path dir;
    std::string base;
};

SyncTrack trackOf(std::vector<TrackKey> keys) {
    SyncTrack t("t");
    t.keys = std::move(keys);
    t.keyCount = int32_t(t.keys.size());
    return t;
}

} // namespace

TEST(TrackEval, EmptyAndSingleKey) {
    SyncTrack one = trackOf({{7, 2.5f, Linear}});
    for (double row : {-100.5, 6.99, 7.0, 7.5, 1e12}) {
        EXPECT_EQ(SyncTrack("none").valueAt(row), 0.0f);
        EXPECT_EQ(one.valueAt(row), 2.5f);
    }
}

TEST(TrackEval, InterpolationTypesBetweenKeys) {
    for (auto [type, expected] :
         {std::pair{Hold, 0.0f}, {Linear, 2.5f}, {Smoothstep, 1.5625f}, {Quadratic, 0.625f}}) {
        SyncTrack t = trackOf({{0, 0.0f, type}, {10, 10.0f, Hold}});
        EXPECT_FLOAT_EQ(t.valueAt(2.5), expected) << int32_t(type);
        EXPECT_EQ(t.valueAt(10.0), 10.0f); // on the last key
        EXPECT_EQ(t.valueAt(11.0), 10.0f); // after it
    }
}

TEST(TrackEval, InnerKeysFractionalAndNegativeRows) {
    SyncTrack t = trackOf(
        {{0, 1.0f, Linear}, {8, 5.0f, Smoothstep}, {16, -3.0f, Quadratic}, {32, 9.0f, Hold}});
    EXPECT_EQ(t.valueAt(8.0), 5.0f);
    EXPECT_EQ(t.valueAt(16.0), -3.0f);
    EXPECT_EQ(t.valueAt(-1e9), 1.0f);
    // The fractional row, not the floored one, drives the weight, but rows are
    // floored for the key search: -0.5 is row -1, before the first key.
    EXPECT_FLOAT_EQ(t.valueAt(4.5), 1.0f + 4.0f * (4.5f / 8.0f));
    EXPECT_EQ(t.valueAt(-0.5), 1.0f);
    // Linear is computed in double and rounded once.
    SyncTrack precise = trackOf({{0, 0.1f, Linear}, {3, 0.7f, Hold}});
    EXPECT_EQ(precise.valueAt(1.0), float(double(0.1f) + double(0.7f - 0.1f) * (1.0 / 3.0)));
}

TEST(TrackEval, BadTypesAndRowsStayInTheirSegment) {
    // An unknown type byte gives 0 only between its key and the next.
    SyncTrack t =
        trackOf({{0, 2.0f, KeyInterp(int8_t(200))}, {10, 4.0f, KeyInterp(4)}, {20, 6.0f, Hold}});
    EXPECT_EQ(t.valueAt(5.0), 0.0f);
    EXPECT_EQ(t.valueAt(15.0), 0.0f);
    EXPECT_EQ(t.valueAt(-3.0), 2.0f);
    EXPECT_EQ(t.valueAt(20.0), 6.0f);
    // Two keys on one row would divide by zero; the segment holds instead.
    SyncTrack twin =
        trackOf({{0, 1.0f, Linear}, {5, 2.0f, Linear}, {5, 3.0f, Linear}, {9, 4.0f, Hold}});
    for (double row = -1; row < 11; row += 0.25) {
        EXPECT_TRUE(std::isfinite(twin.valueAt(row))) << row;
    }
    EXPECT_TRUE(std::isfinite(twin.valueAt(std::nan(""))));
}

TEST_F(TrackFiles, WriterReaderRoundTripAndOneTrackPerName) {
    std::vector<TrackKey> keys = {{-4, -1.5f, Hold},
                                  {0, 0.25f, Linear},
                                  {96, 3e7f, Smoothstep},
                                  {200, -0.0f, Quadratic},
                                  {201, 1.0f, KeyInterp(int8_t(200))}};
    // The format byte for byte: count, then per key the row, the float's bits
    // and the type byte, little-endian.
    ASSERT_TRUE(writeTrackFile(base + "_one.track", {{5, 1.0f, Linear}}));
    std::ifstream one(base + "_one.track", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(one), {}),
              std::string("\x01\0\0\0\x05\0\0\0\0\0\x80\x3f\x01", 13));
    ASSERT_TRUE(writeTrackFile(base + "_cam_a.track", keys));
    EXPECT_EQ(fs::file_size(base + "_cam_a.track"), 4u + 9u * keys.size());
    SyncTrackSet* set = SyncTrackSet::create(base);
    SyncTrack* t = set->getTrack("cam_a");
    ASSERT_EQ(t->keyCount, int32_t(keys.size()));
    for (size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(t->keys[i].row, keys[i].row);
        EXPECT_EQ(std::signbit(t->keys[i].value), std::signbit(keys[i].value));
        EXPECT_EQ(t->keys[i].value, keys[i].value);
        EXPECT_EQ(t->keys[i].interp, keys[i].interp); // byte 200 comes back as -56
    }
    // A changed file is not read again: the first load stands. Names are case-sensitive.
    ASSERT_TRUE(writeTrackFile(base + "_cam_a.track", {{0, 2.0f, Hold}}));
    EXPECT_EQ(set->getTrack("cam_a"), t);
    EXPECT_EQ(t->keyCount, int32_t(keys.size()));
    EXPECT_EQ(set->getTrack("Cam_a")->keyCount, 0);
    set->destroy();
    set = SyncTrackSet::create();
    EXPECT_EQ(set->base, "data/sync");
    set->destroy();
    EXPECT_FALSE(writeTrackFile((dir / "missing" / "x.track").string(), keys));
}

TEST_F(TrackFiles, DamagedFilesKeepWhatWasReadCompletely) {
    EXPECT_EQ(SyncTrack("nothing").load(base), -1);
    ASSERT_TRUE(writeTrackFile(base + "_full.track",
                               {{0, 1.0f, Linear}, {4, 2.0f, Linear}, {8, 3.0f, Hold}}));
    std::ifstream in(base + "_full.track", std::ios::binary);
    const std::string full(std::istreambuf_iterator<char>(in), {});
    struct Case {
        const char* name;
        std::string bytes;
        int keys;
        float last; // the value after the last key
    };
    const Case cases[] = {
        {"short", full.substr(0, 4 + 9 * 2 + 5), 2, 2.0f},          // cut inside the third key
        {"negative", "\xff\xff\xff\xff" + full.substr(4), 0, 0.0f}, // a negative count
        // A huge count in a small file allocates only what the file can hold.
        {"huge", "\xff\xff\xff\x7f" + full.substr(4), 3, 3.0f},
        {"tiny", std::string("\x01\x00", 2), 0, 0.0f}, // shorter than the count field
    };
    for (const Case& c : cases) {
        std::ofstream(base + "_" + c.name + ".track", std::ios::binary) << c.bytes;
        SyncTrack t(c.name);
        EXPECT_EQ(t.load(base), 0) << c.name;
        EXPECT_EQ(t.keyCount, c.keys) << c.name;
        EXPECT_LE(t.keys.capacity(), 3u) << c.name;
        EXPECT_EQ(t.valueAt(100), c.last) << c.name;
        // The same bytes in memory read the same.
        SyncTrack bytes("bytes");
        bytes.parse(reinterpret_cast<const unsigned char*>(c.bytes.data()), c.bytes.size());
        EXPECT_EQ(bytes.keyCount, c.keys) << c.name;
    }
    SyncTrack none("none");
    none.parse(nullptr, 0);
    EXPECT_EQ(none.keyCount, 0);
}

TEST_F(TrackFiles, LongPathIsCutNotOverrun) {
    std::string longName(400, 'n');
    SyncTrack t(longName);
    EXPECT_EQ(t.load(base), -1);
    // The cut path: base + "_" + name, 259 characters, no ".track".
    std::string cut = (base + "_" + longName).substr(0, 259);
    std::ofstream(cut, std::ios::binary).write("\x01\0\0\0\x05\0\0\0\0\0\x80\x3f\x01", 13);
    EXPECT_EQ(t.load(base), 0);
    ASSERT_EQ(t.keyCount, 1);
    EXPECT_EQ(t.keys[0].value, 1.0f);
}
