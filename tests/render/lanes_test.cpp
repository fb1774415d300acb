// The 8-lane operations of every vector path against their scalar twins, on
// seeded random rows mixed with the values where wrapping, signed compares and
// saturating packs go wrong: the extremes, zero, -1 and neighbours of each other.

#include "lanes_ops.h"
#include "render/simd.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace lumo::test {
namespace {

LaneInputs randomInputs(std::mt19937& rng) {
    static constexpr std::array<int32_t, 9> kEdges = {
        INT32_MIN, INT32_MIN + 1, -1, 0, 1, INT32_MAX - 1, INT32_MAX, 0x7FFF, -0x8000};
    std::uniform_int_distribution<int32_t> any(INT32_MIN, INT32_MAX), small(-40, 40);
    std::uniform_int_distribution<int> pick(0, 3);
    auto value = [&] {
        switch (pick(rng)) {
        case 0:
            return kEdges[size_t(rng() % kEdges.size())];
        case 1:
            return small(rng);
        default:
            return any(rng);
        }
    };
    LaneInputs in;
    for (int i = 0; i < 8; ++i) {
        in.a[i] = value();
        in.b[i] = pick(rng) == 0 ? in.a[i] : value(); // ties for the compares
        in.c[i] = value();
        in.d[i] = value();
    }
    for (int32_t& v : in.tile) {
        v = value();
    }
    for (uint8_t& v : in.bytes) {
        v = uint8_t(rng());
    }
    in.scalar = value();
    in.step = value();
    in.bits = rng() & 0xFFu;

    // Floats where divisions, conversions and the texture wrap go wrong.
    static constexpr std::array<float, 14> kFloatEdges = {std::numeric_limits<float>::quiet_NaN(),
                                                          std::numeric_limits<float>::infinity(),
                                                          -std::numeric_limits<float>::infinity(),
                                                          std::numeric_limits<float>::denorm_min(),
                                                          -1e-40f,
                                                          0.0f,
                                                          -0.0f,
                                                          0.5f,
                                                          -2.5f,
                                                          1073741824.0f,
                                                          -1073741760.0f,
                                                          3e9f,
                                                          1.0f,
                                                          0.99999994f};
    std::uniform_real_distribution<float> unit(-3.0f, 3.0f), wide(-2e9f, 2e9f);
    auto real = [&] {
        switch (pick(rng)) {
        case 0:
            return kFloatEdges[size_t(rng() % kFloatEdges.size())];
        case 1:
            return wide(rng);
        default:
            return unit(rng);
        }
    };
    for (int i = 0; i < 8; ++i) {
        in.fa[i] = real();
        in.fb[i] = real();
        in.pixels[i] = vec4(real(), real(), real(), real());
    }
    in.texels = pick(rng) == 0 ? 1 << (rng() % 12) : 1 + int32_t(rng() % 1000);
    for (uint32_t& p : in.packed) {
        p = pick(rng) == 0 ? (rng() & 0x00FFFFFFu) | (pick(rng) == 0 ? 0u : 0xFF000000u) : rng();
    }
    return in;
}

// Where two results first part, for the failure message.
std::string firstDifference(const LaneResults& x, const LaneResults& y) {
    for (int r = 0; r < 12; ++r) {
        for (int i = 0; i < 8; ++i) {
            if (x.rows[r][i] != y.rows[r][i]) {
                return "row " + std::to_string(r) + " lane " + std::to_string(i);
            }
        }
    }
    for (int r = 0; r < 3; ++r) {
        for (int i = 0; i < 32; ++i) {
            if (x.bytes[r][i] != y.bytes[r][i]) {
                return "bytes " + std::to_string(r) + " at " + std::to_string(i);
            }
        }
    }
    for (int r = 0; r < 6; ++r) {
        if (std::memcmp(x.floats[r], y.floats[r], sizeof x.floats[r]) != 0) {
            return "floats " + std::to_string(r);
        }
    }
    if (std::memcmp(x.unpacked, y.unpacked, sizeof x.unpacked) != 0) {
        return "unpacked texels";
    }
    for (int r = 0; r < 2; ++r) {
        if (std::memcmp(x.wrapped[r], y.wrapped[r], sizeof x.wrapped[r]) != 0) {
            return "wrapped " + std::to_string(r);
        }
    }
    for (int v = 0; v < 8; ++v) {
        if (x.values[v] != y.values[v]) {
            return "value " + std::to_string(v);
        }
    }
    return "none";
}

TEST(Lanes, EveryPathMatchesTheScalarTwin) {
    std::mt19937 rng(2024);
    const bool avx2 = simdPathSupported(SimdPath::Avx2);
    if (!avx2) {
        std::printf("skipped the avx2 path: this processor lacks it\n");
    }
    for (int n = 0; n < 20000; ++n) {
        const LaneInputs in = randomInputs(rng);
        const LaneResults expected = applyLaneOps<lanes::Scalar>(in);
        for (int i = 0; i < 8; ++i) { // the wrap of a row is the wrap of each pixel
            ASSERT_EQ(expected.wrapped[0][i], wrapTexel(in.fa[i], in.texels)) << in.fa[i];
            // Unpacked texels are the loader's floats, bit for bit.
            const vec4 texel = unpackTexel(in.packed[i], byteFloatTable());
            ASSERT_EQ(std::memcmp(&expected.unpacked[4 * i], &texel.x, sizeof texel), 0)
                << std::hex << in.packed[i];
        }
        const LaneResults sse = applyLaneOps<lanes::Sse>(in);
        ASSERT_TRUE(sse == expected) << "sse, case " << n << ": " << firstDifference(sse, expected);
        if (avx2) {
            const LaneResults wide = applyLaneOpsAvx2(in);
            ASSERT_TRUE(wide == expected)
                << "avx2, case " << n << ": " << firstDifference(wide, expected);
        }
    }
}

// The twin itself, where a mistake would pass unnoticed by the comparison:
// wrapping ramps, the pack's row order and the byte sums.
TEST(Lanes, ScalarTwinMeansWhatItSays) {
    LaneInputs in{};
    in.step = INT32_MAX;
    in.scalar = 5;
    in.bits = 0b10000001;
    in.texels = 4;
    for (int i = 0; i < 8; ++i) {
        in.a[i] = i;
        in.b[i] = 3;
    }
    in.bytes[31] = 200;
    in.bytes[0] = 100;
    const LaneResults r = applyLaneOps<lanes::Scalar>(in);
    EXPECT_EQ(r.rows[1][2], -2); // 2 * INT32_MAX wraps
    EXPECT_EQ(r.rows[9][0], -1);
    EXPECT_EQ(r.rows[9][1], 0);
    EXPECT_EQ(r.rows[9][7], -1);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(r.bytes[0][i], i > 3 ? 0xFF : 0) << i; // row 0: a > b
    }
    EXPECT_EQ(r.bytes[0][24], 0xFF); // row 3: the bits
    EXPECT_EQ(r.bytes[0][25], 0);
    EXPECT_EQ(r.values[3], 300);
}

// LUMO_SIMD: empty takes the widest path; an unknown name or a path the
// processor lacks is refused with one line and leaves the path as it was.
TEST(SimdPaths, ChoosingByName) {
    const SimdPath active = activeSimdPath();
    std::string error;
    ASSERT_TRUE(chooseSimdPath("sse", error));
    EXPECT_EQ(activeSimdPath(), SimdPath::Sse);
    EXPECT_FALSE(chooseSimdPath("avx512", error));
    EXPECT_EQ(error, "LUMO_SIMD=avx512: unknown vector path (sse or avx2)");
    EXPECT_FALSE(chooseSimdPath("SSE", error));
    EXPECT_EQ(activeSimdPath(), SimdPath::Sse);
    EXPECT_EQ(chooseSimdPath("avx2", error), simdPathSupported(SimdPath::Avx2));
    EXPECT_EQ(activeSimdPath(), widestSimdPath());
    ASSERT_TRUE(chooseSimdPath("sse", error));
    ASSERT_TRUE(chooseSimdPath("", error));
    EXPECT_EQ(activeSimdPath(), widestSimdPath());
    for (SimdPath path : kSimdPaths) {
        EXPECT_EQ(simdPathFromName(simdPathName(path)), path);
    }
    setSimdPath(active);
}

} // namespace
} // namespace lumo::test
