#include "display/converters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
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

// Writes one pixel of format dst (1 to 8) from channels already reduced to its widths, as a
// little-endian word of its size: 24-bit formats list their bytes in memory order.
void refStore(int dst, std::uint32_t r, std::uint32_t g, std::uint32_t b, std::uint8_t* out) {
    static_assert(std::endian::native == std::endian::little);
    const bool swapped = dst % 2 == 0; // blue in the high bits
    const std::uint32_t hi = swapped ? b : r, lo = swapped ? r : b;
    const std::uint32_t word = dst <= 2   ? hi << 16 | g << 8 | lo
                               : dst <= 4 ? lo << 16 | g << 8 | hi
                                          : hi << (dst <= 6 ? 11 : 10) | g << 5 | lo;
    std::memcpy(out, &word, pixelSize(dst));
}

void referenceConvert(int src, int dst, const std::uint8_t* in, std::uint8_t* out, int count) {
    const int rb = dst >= 5 ? 5 : 8, gb = dst == 5 || dst == 6 ? 6 : rb;
    for (int i = 0; i < count; ++i, in += pixelSize(src), out += pixelSize(dst)) {
        if (src == dst) {
            std::memcpy(out, in, pixelSize(src));
        } else if (src == 1) { // a little-endian word: bytes blue, green, red
            const std::uint32_t r = in[2], g = in[1], b = in[0];
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

// Random source pixels, a word at a time; floats mix ordinary values in and around [0, 1] with
// the awkward ones.
std::vector<std::uint8_t> randomSource(int src, int count, std::mt19937& rng) {
    const float inf = std::numeric_limits<float>::infinity(), nan = NAN;
    const float specials[] = {
        0.0f, -0.0f,    1.0f, 0.99999994f, 0.9999999f, 0.5f, -0.25f,
        2.0f, 1.0e-30f, inf,  -inf,        nan,        -nan, 1.0e-45f /* smallest denormal */};
    std::uniform_real_distribution<float> around(-0.2f, 1.2f);
    std::vector<std::uint8_t> data(std::size_t(count) * pixelSize(src));
    for (std::size_t i = 0; i < data.size(); i += 4) {
        const std::uint32_t word = rng();
        const float v = word % 5 == 0 ? specials[rng() % std::size(specials)] : around(rng);
        std::memcpy(&data[i], src == 1 ? static_cast<const void*>(&word) : &v, 4);
    }
    return data;
}

} // namespace

// Worked examples, independent of the reference below: red 0.5 -> 128, green 1.0 -> 255, blue
// -0.25 -> 0 and the fourth float ignored; 0xFF8040 in RGB565.
TEST(Converters, WorkedExamples) {
    const float f[4] = {0.5f, 1.0f, -0.25f, 123.0f};
    std::uint32_t p = 0;
    requestConverter(9, 1)->convert(f, &p, 1);
    EXPECT_EQ(p, 0x0080FF00u);
    std::uint16_t rgb565 = 0;
    p = 0x00FF8040u;
    requestConverter(1, 5)->convert(&p, &rgb565, 1);
    EXPECT_EQ(rgb565, 0xFC08);
}

// Exactly the eighteen pairs have a converter. Each against the per-pixel reference, for run
// lengths around the four-pixel grouping (empty and negative runs touch nothing) and at an odd
// offset, with a guard after the run.
TEST(Converters, TheEighteenPairsMatchThePerPixelReference) {
    std::mt19937 rng(1234);
    for (int src = -1; src <= 10; ++src) {
        for (int dst = -1; dst <= 10; ++dst) {
            Converter* converter = requestConverter(src, dst);
            ASSERT_EQ(converter != nullptr, (src == 1 || src == 9) && dst >= 1 && dst <= 9)
                << src << " -> " << dst;
            if (!converter) {
                continue;
            }
            for (int count : {-3, 0, 1, 2, 3, 4, 5, 7, 8, 999}) {
                const int n = std::max(count, 0);
                std::vector<std::uint8_t> in = randomSource(src, n, rng);
                // The destination starts with the same random bytes in both, so
                // bytes a converter leaves alone (the fourth float) must agree.
                std::vector<std::uint8_t> got(std::size_t(n) * pixelSize(dst) + 1 + 16);
                std::generate(got.begin(), got.end(), [&] { return std::uint8_t(rng()); });
                std::vector<std::uint8_t> want = got;
                converter->begin();
                converter->convert(in.data(), got.data() + 1, count);
                referenceConvert(src, dst, in.data(), want.data() + 1, count);
                ASSERT_EQ(got, want) << src << " -> " << dst << ", " << count << " pixels";
            }
        }
    }
}
