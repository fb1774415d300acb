// Resolve rounding, band clear and markers, the tent blur and the overlay.

#include "assets/texture.h"
#include "render/internal/finalpass.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <span>

namespace lumo {
namespace {

uint32_t red(float c, float bias = 0.0f) {
    return (resolvePixel(vec4(c, 0, 0, 0), bias) >> 16) & 255u;
}

TEST(Resolve, RoundingAndClamping) {
    EXPECT_EQ(red(0.998f), 255u); // 255.49 capped
    EXPECT_EQ(red(0.5f), 128u);
    EXPECT_EQ(red(254.5f / 256.0f), 254u); // ties to even
    EXPECT_EQ(red(253.5f / 256.0f), 254u);
    EXPECT_EQ(red(-0.3f), 0u);
    EXPECT_EQ(red(100.0f), 255u);
    EXPECT_EQ(red(1.0f, -1.0f), 0u);
    EXPECT_EQ(red(0.0f, 0.25f), 64u); // a positive exposure lifts black
    EXPECT_EQ(red(std::numeric_limits<float>::quiet_NaN()), 255u);
    EXPECT_EQ(red(-std::numeric_limits<float>::infinity()), 0u);
    EXPECT_EQ(resolvePixel(vec4(1, 0.5f, 0.25f, 1), 0.0f), 0xFFFF8040u); // alpha in bits 24-31
}

// Rows resolve into the canvas moved down and clipped to it; a band clears its
// rows and marks them.
TEST(FinalPass, RowsResolveClearAndMark) {
    ColorBuffer color(8, 16);
    for (int i = 0; i < 8 * 16; ++i) {
        color.pixels[i] = vec4(float(i / 8) / 256.0f, 0, 0, 0);
    }
    std::vector<uint32_t> pixels(8 * 20, 7);
    Canvas canvas{pixels.data(), 8, 20};
    resolveRows(color, canvas, 8, 16, 10, 0.0f); // rows 18..25: only 18, 19 fit
    EXPECT_EQ(pixels[17 * 8], 7u);
    EXPECT_EQ(pixels[18 * 8 + 3], 8u << 16);
    EXPECT_EQ(pixels[19 * 8 + 7], 9u << 16);
    resolveRows(color, canvas, 0, 8, -4, 0.0f); // rows -4..3: only 0..3
    EXPECT_EQ(pixels[0], 4u << 16);
    EXPECT_EQ(pixels[4 * 8], 7u);

    ColorBuffer bands(16, 16);
    std::fill_n(bands.pixels, 256, vec4(1, 1, 1, 1));
    clearColorRows(bands, 8, 16);
    EXPECT_EQ(bands.at(3, 7), vec4(1, 1, 1, 1));
    EXPECT_EQ(bands.at(3, 8), vec4());
    markBands(bands, 8, 16, 1);
    EXPECT_EQ(bands.at(7, 15), vec4(1, 0, 1, 0));
    EXPECT_EQ(bands.at(8, 15), vec4());
    EXPECT_EQ(bands.at(0, 0), vec4(1, 1, 1, 1)); // only worker 0 marks row 0
    markBands(bands, 8, 8, 1);                   // an empty band marks nothing
    EXPECT_EQ(bands.at(0, 7), vec4(1, 1, 1, 1));
}

// Blurs against a direct tent filter, O(r) per pixel in each direction, with
// the edge pixels repeated.
TEST(Blur, MatchesADirectTentFilter) {
    constexpr int W = 23, H = 11;
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> d(0.0f, 1.0f);
    for (int r : {0, 1, 2, 9}) { // 0: nothing happens; 9: wider than the columns
        ColorBuffer noise(W, H);
        for (vec4& p : std::span(noise.pixels, W * H)) {
            p = vec4(d(rng), d(rng), d(rng), d(rng));
        }
        std::vector<vec4> expected(noise.pixels, noise.pixels + W * H);
        for (auto [count, length, step] : {std::array{W, H, 1}, std::array{H, W, W}}) {
            const int lineStep = step == 1 ? W : 1;
            const std::vector<vec4> in = expected;
            for (int line = 0; line < length; ++line) {
                for (int i = 0; i < count; ++i) {
                    double s[4] = {};
                    for (int k = -r; k <= r; ++k) {
                        const vec4& p =
                            in[line * lineStep + std::clamp(i + k, 0, count - 1) * step];
                        const double weight = (r + 1 - std::abs(k)) / double((r + 1) * (r + 1));
                        s[0] += weight * p.x, s[1] += weight * p.y, s[2] += weight * p.z,
                            s[3] += weight * p.w;
                    }
                    expected[line * lineStep + i * step] =
                        vec4(float(s[0]), float(s[1]), float(s[2]), float(s[3]));
                }
            }
        }
        ASSERT_TRUE(blurColorBuffer(noise, r));
        for (int i = 0; i < W * H; ++i) {
            ASSERT_NEAR(noise.pixels[i].x, expected[i].x, 1e-6f) << "r " << r << " i " << i;
            ASSERT_NEAR(noise.pixels[i].w, expected[i].w, 1e-6f);
        }
    }
}

TEST(Overlay, BlendsPremultipliedAndClips) {
    // An alpha other than 0.5, where s.a and 1 - s.a would agree.
    const TextureImage image{AlignedVector<vec4>(12, vec4(0.2f, 0.1f, 0.0f, 0.25f)), 4, 3};
    ColorBuffer color(8, 8);
    const vec4 grey(0.4f, 0.4f, 0.4f, 0.9f);
    std::fill_n(color.pixels, 64, grey);
    compositeOverlay(color, image, 2, 2, 0.5f);
    // s + d (1 - s.a), faded in by one half; the destination alpha is kept.
    auto blend = [](float s) { return 0.4f * 0.5f + (0.4f * 0.75f + s) * 0.5f; };
    const vec4 over(blend(0.2f), blend(0.1f), blend(0.0f), 0.9f);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            const bool inside = x >= 2 && x < 6 && y >= 2 && y < 5;
            ASSERT_EQ(color.at(x, y), inside ? over : grey) << x << "," << y;
        }
    }

    // Partly off every side, and wider than the buffer: only inside pixels
    // change; starting below or right of it, or with fewer texels than its size,
    // nothing does.
    TextureImage wide{AlignedVector<vec4>(400, vec4(1, 1, 1, 1)), 20, 20};
    ColorBuffer small(8, 8);
    compositeOverlay(small, wide, -6, -6, 1.0f);
    EXPECT_EQ(small.at(7, 7).x, 1.0f);
    const std::vector<vec4> before(color.pixels, color.pixels + 64);
    compositeOverlay(color, wide, 0, 8, 1.0f);
    compositeOverlay(color, wide, 8, 0, 1.0f);
    wide.texels.resize(399);
    compositeOverlay(color, wide, 0, 0, 1.0f);
    EXPECT_EQ(std::vector<vec4>(color.pixels, color.pixels + 64), before);
}

} // namespace
} // namespace lumo
