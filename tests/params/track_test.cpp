#include "params/track.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <tuple>
#include <unistd.h>

using namespace lumo;
using enum KeyInterp;
namespace fs = std::filesystem;

namespace {

class TrackFiles : public testing::Test {
protected:
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }

    fs::path dir =
        fs::temp_directory_path() / ("lumo_tracks_" + std::to_string(getpid()) + "_" +
                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    std::string base = (dir / "sync").string();
};

SyncTrack trackOf(std::vector<TrackKey> keys) {
    SyncTrack t("t");
    t.keys = std::move(keys);
    t.keyCount = int32_t(t.keys.size());
    return t;
}

} // namespace

TEST(TrackEval, ValuesOnBetweenAndOutsideKeys) {
    using Keys = std::vector<TrackKey>;
    using Rows = std::vector<std::pair<double, float>>;
    // Between two keys by each type, then on the last key and after it.
    auto two = [](KeyInterp type, float between) {
        return std::pair{Keys{{0, 0.0f, type}, {10, 10.0f, Hold}},
                         Rows{{2.5, between}, {10.0, 10.0f}, {11.0, 10.0f}}};
    };
    const std::pair<Keys, Rows> cases[] = {
        {{}, {{7.0, 0.0f}}},
        {{{7, 2.5f, Linear}}, {{-100.5, 2.5f}, {6.99, 2.5f}, {7.5, 2.5f}, {1e12, 2.5f}}},
        two(Hold, 0.0f),
        two(Linear, 2.5f),
        two(Smoothstep, 1.5625f),
        two(Quadratic, 0.625f),
        // The fractional row, not the floored one, drives the weight, but rows are floored for
        // the key search: -0.5 is row -1, before the first key.
        {{{0, 1.0f, Linear}, {8, 5.0f, Smoothstep}, {16, -3.0f, Quadratic}, {32, 9.0f}},
         {{4.5, 3.25f}, {-0.5, 1.0f}, {8.0, 5.0f}, {16.0, -3.0f}, {-1e9, 1.0f}, {NAN, 1.0f}}},
        // Three keys on one row: the search lands on the middle one, whose segment would divide
        // by zero; it holds instead.
        {{{0, 1.0f, Linear}, {5, 2.0f, Linear}, {5, 3.0f, Linear}, {5, 3.5f, Linear}, {9, 4.0f}},
         {{5.5, 3.0f}}},
        // Linear is computed in double and rounded once.
        {{{0, 0.1f, Linear}, {3, 0.7f}},
         {{1.0, float(double(0.1f) + double(0.7f - 0.1f) * (1.0 / 3.0))}}},
        // An unknown type byte gives 0 only between its key and the next.
        {{{0, 2.0f, KeyInterp(int8_t(200))}, {10, 4.0f, KeyInterp(4)}, {20, 6.0f}},
         {{5.0, 0.0f}, {15.0, 0.0f}, {-3.0, 2.0f}, {20.0, 6.0f}}},
    };
    for (const auto& [keys, rows] : cases) {
        for (auto [row, expected] : rows) {
            EXPECT_EQ(trackOf(keys).valueAt(row), expected) << keys.size() << " keys @ " << row;
        }
    }
}

TEST_F(TrackFiles, WriterReaderRoundTripAndOneTrackPerName) {
    const std::vector<TrackKey> keys = {{-4, -1.5f, Hold},
                                        {0, 0.25f, Linear},
                                        {96, 3e7f, Smoothstep},
                                        {200, -0.0f, Quadratic},
                                        {201, 1.0f, KeyInterp(int8_t(200))}};
    // The format byte for byte: count, then per key the row, the float's bits and the type
    // byte, little-endian.
    ASSERT_TRUE(writeTrackFile(base + "_one.track", {{5, 1.0f, Linear}}));
    std::ifstream one(base + "_one.track", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(one), {}),
              std::string("\x01\0\0\0\x05\0\0\0\0\0\x80\x3f\x01", 13));
    ASSERT_TRUE(writeTrackFile(base + "_cam_a.track", keys));
    EXPECT_EQ(fs::file_size(base + "_cam_a.track"), 4u + 9u * keys.size());
    SyncTrackSet* set = SyncTrackSet::create(base);
    SyncTrack* t = set->getTrack("cam_a");
    // Bit for bit, so -0.0 keeps its sign; type byte 200 comes back as -56.
    ASSERT_EQ(t->keyCount, int32_t(keys.size()));
    static_assert(sizeof(TrackKey) == 12);
    EXPECT_EQ(std::memcmp(t->keys.data(), keys.data(), keys.size() * sizeof(TrackKey)), 0);
    // A changed file is not read again: the first load stands. Names are case-sensitive.
    ASSERT_TRUE(writeTrackFile(base + "_cam_a.track", {{0, 2.0f, Hold}}));
    EXPECT_EQ(set->getTrack("cam_a"), t);
    EXPECT_EQ(t->keyCount, int32_t(keys.size()));
    EXPECT_EQ(set->getTrack("Cam_a")->keyCount, 0);
    set->destroy();
    EXPECT_FALSE(writeTrackFile((dir / "missing" / "x.track").string(), keys));
}

TEST_F(TrackFiles, DamagedFilesKeepWhatWasReadCompletely) {
    EXPECT_EQ(SyncTrack("nothing").load(base), -1);
    ASSERT_TRUE(writeTrackFile(base + "_full.track",
                               {{0, 1.0f, Linear}, {4, 2.0f, Linear}, {8, 3.0f, Hold}}));
    std::ifstream in(base + "_full.track", std::ios::binary);
    const std::string full(std::istreambuf_iterator<char>(in), {});
    // Name, bytes, keys read and the value after the last key.
    const std::tuple<const char*, std::string, int, float> cases[] = {
        {"short", full.substr(0, 4 + 9 * 2 + 5), 2, 2.0f},          // cut inside the third key
        {"negative", "\xff\xff\xff\xff" + full.substr(4), 0, 0.0f}, // a negative count
        // A huge count in a small file allocates only what the file can hold.
        {"huge", "\xff\xff\xff\x7f" + full.substr(4), 3, 3.0f},
        {"tiny", std::string("\x01\x00", 2), 0, 0.0f}, // shorter than the count field
    };
    for (const auto& [name, bytes, keys, last] : cases) {
        std::ofstream(base + "_" + name + ".track", std::ios::binary) << bytes;
        SyncTrack t(name);
        EXPECT_EQ(t.load(base), 0) << name;
        EXPECT_EQ(t.keyCount, keys) << name;
        EXPECT_LE(t.keys.capacity(), 3u) << name;
        EXPECT_EQ(t.valueAt(100), last) << name;
        // The same bytes in memory read the same.
        SyncTrack parsed("bytes");
        parsed.parse(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
        EXPECT_EQ(parsed.keyCount, keys) << name;
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
    ASSERT_TRUE(writeTrackFile((base + "_" + longName).substr(0, 259), {{5, 1.0f, Linear}}));
    EXPECT_EQ(t.load(base), 0);
    ASSERT_EQ(t.keyCount, 1);
    EXPECT_EQ(t.keys[0].value, 1.0f);
}
