#include "display/converters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

using namespace lumo::Framebuffer;

namespace {

// Reference, written per pixel and per format without the library's helpers.
// A float channel in n bits: floor((1 + v - 1) * 2^n), clamped as the display
// does; 1 + v - 1 is exact (Sterbenz), so this is the mantissa rule restated.
std::uint32_t refChannel(float v, int n) {
    if (std::signbit(v)) {
        return 0;
    }
    if (std::isnan(v) || v >= 0.99999994f) {
        return (1u << n) - 1;
    }
    return std::uint32_t(std::floor(double((1.0f + v) - 1.0f) * double(1u << n)));
}

// Writes one pixel of format dst (1 to 8) from channels already reduced to its widths.
void refStore(int dst, std::uint32_t r, std::uint32_t g, std::uint32_t b, std::uint8_t* out) {
    const bool swapped = dst % 2 == 0; // blue in the high bits
    const std::uint32_t hi = swapped ? b : r, lo = swapped ? r : b;
    if (dst <= 2) {
        std::uint32_t word = hi << 16 | g << 8 | lo;
        std::memcpy(out, &word, 4);
    } else if (dst <= 4) {
        out[0] = std::uint8_t(hi), out[1] = std::uint8_t(g), out[2] = std::uint8_t(lo);
    } else {
        const int greenBits = dst <= 6 ? 6 : 5;
        std::uint16_t half = std::uint16_t(hi << (5 + greenBits) | g << 5 | lo);
        std::memcpy(out, &half, 2);
    }
}

void referenceConvert(int src, int dst, const std::uint8_t* in, std::uint8_t* out, int count) {
    const int rb = dst >= 5 ? 5 : 8, gb = dst == 5 || dst == 6 ? 6 : rb;
    for (int i = 0; i < count; ++i, in += pixelSize(src), out += pixelSize(dst)) {
        if (src == dst) {
            std::memcpy(out, in, pixelSize(src));
        } else if (src == 1) {
            std::uint32_t p;
            std::memcpy(&p, in, 4);
            std::uint32_t r = p >> 16 & 255, g = p >> 8 & 255, b = p & 255;
            if (dst == 9) {
                float f[3] = {float(r) / 256.0f, float(g) / 256.0f, float(b) / 256.0f};
                std::memcpy(out, f, 12);
            } else {
                refStore(dst, r >> (8 - rb), g >> (8 - gb), b >> (8 - rb), out);
            }
        } else {
            float f[4];
            std::memcpy(f, in, 16);
            refStore(dst, refChannel(f[0], rb), refChannel(f[1], gb), refChannel(f[2], rb), out);
        }
    }
}

// Random source pixels; floats mix ordinary values in and around [0, 1] with
// the awkward ones.
std::vector<std::uint8_t> randomSource(int src, int count, std::mt19937& rng) {
    std::vector<std::uint8_t> data(std::size_t(count) * pixelSize(src));
    if (src == 1) {
        for (auto& b : data) {
            b = std::uint8_t(rng());
        }
        return data;
    }
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float specials[] = {
        0.0f, -0.0f,    1.0f, 0.99999994f, 0.9999999f, 0.5f, -0.25f,
        2.0f, 1.0e-30f, inf,  -inf,        nan,        -nan, 1.0e-45f /* smallest denormal */};
    std::uniform_real_distribution<float> around(-0.2f, 1.2f);
    for (std::size_t i = 0; i < data.size() / 4; ++i) {
        float v = rng() % 5 == 0 ? specials[rng() % std::size(specials)] : around(rng);
        std::memcpy(&data[i * 4], &v, 4);
    }
    return data;
}

template <typename Out, typename In>
Out convertOne(int src, int dst, In in) {
    Out out{};
    requestConverter(src, dst)->convert(&in, &out, 1);
    return out;
}

} // namespace

TEST(Converters, RequestCoversExactlyTheEighteenPairs) {
    for (int src = -1; src <= 10; ++src) {
        for (int dst = -1; dst <= 10; ++dst) {
            bool exists = (src == 1 || src == 9) && dst >= 1 && dst <= 9;
            EXPECT_EQ(requestConverter(src, dst) != nullptr, exists) << src << " -> " << dst;
        }
    }
}

// The documented examples, independent of the reference below.
TEST(Converters, DocumentedExamples) {
    using F4 = std::array<float, 4>;
    EXPECT_EQ(convertOne<std::uint16_t>(1, 5, 0x00FF8040u), 0xFC08);
    EXPECT_EQ(convertOne<std::uint16_t>(1, 7, 0x00FF8040u), 0x7E08);
    // Red 0.5 -> 128, green 1.0 -> 255, blue -0.25 -> 0; the fourth float is ignored.
    EXPECT_EQ(convertOne<std::uint32_t>(9, 1, F4{0.5f, 1.0f, -0.25f, 123.0f}), 0x0080FF00u);
    EXPECT_EQ(convertOne<std::uint16_t>(9, 7, F4{0.5f, 0, 0, 0}) >> 10, 16);
    // Byte 255 is 255/256, not 1.0, and the fourth float is left alone.
    F4 f{9.0f, 9.0f, 9.0f, 7.5f};
    std::uint32_t p = 0x00FF8000;
    requestConverter(1, 9)->convert(&p, f.data(), 1);
    EXPECT_EQ(f, (F4{0.99609375f, 0.5f, 0.0f, 7.5f}));
}

// Every pair against the per-pixel reference, for run lengths around the
// four-pixel grouping (empty and negative runs touch nothing) and at an odd
// offset, with a guard after the run.
TEST(Converters, AllPairsMatchThePerPixelReference) {
    std::mt19937 rng(1234);
    for (int src : {1, 9}) {
        for (int dst = 1; dst <= 9; ++dst) {
            for (int count : {-3, 0, 1, 2, 3, 4, 5, 7, 8, 999}) {
                const int n = std::max(count, 0);
                std::vector<std::uint8_t> in = randomSource(src, n, rng);
                // The destination starts with the same random bytes in both, so
                // bytes a converter leaves alone (the fourth float) must agree.
                std::vector<std::uint8_t> got(std::size_t(n) * pixelSize(dst) + 1 + 16);
                for (auto& b : got) {
                    b = std::uint8_t(rng());
                }
                std::vector<std::uint8_t> want = got;
                Converter* converter = requestConverter(src, dst);
                converter->begin();
                converter->convert(in.data(), got.data() + 1, count);
                referenceConvert(src, dst, in.data(), want.data() + 1, count);
                ASSERT_EQ(got, want) << src << " -> " << dst << ", " << count << " pixels";
            }
        }
    }
}
