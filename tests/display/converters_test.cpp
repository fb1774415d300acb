#include "display/converters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

using namespace lumo::Framebuffer;

namespace {

std::uint32_t bitsOf(float f) {
    std::uint32_t b;
    std::memcpy(&b, &f, 4);
    return b;
}

// Reference, written per pixel and per format without the library's helpers.
// A float channel in n bits: floor((1 + v - 1) * 2^n), clamped as the display
// does; 1 + v - 1 is exact (Sterbenz), so this is the mantissa rule restated.
std::uint32_t refChannel(float v, int n) {
    std::uint32_t top = (1u << n) - 1;
    if (std::signbit(v))
        return 0;
    if (std::isnan(v) || v >= 0.99999994f)
        return top;
    float sum = 1.0f + v;
    return std::uint32_t(std::floor(double(sum - 1.0f) * double(1u << n)));
}

// Writes one pixel of format dst from channels already reduced to its widths.
void refStore(int dst, std::uint32_t r, std::uint32_t g, std::uint32_t b, std::uint8_t* out) {
    std::uint32_t word = 0;
    std::uint16_t half = 0;
    switch (dst) {
    case 1:
        word = r << 16 | g << 8 | b;
        std::memcpy(out, &word, 4);
        break;
    case 2:
        word = b << 16 | g << 8 | r;
        std::memcpy(out, &word, 4);
        break;
    case 3:
        out[0] = std::uint8_t(r), out[1] = std::uint8_t(g), out[2] = std::uint8_t(b);
        break;
    case 4:
        out[0] = std::uint8_t(b), out[1] = std::uint8_t(g), out[2] = std::uint8_t(r);
        break;
    case 5:
        half = std::uint16_t(r << 11 | g << 5 | b);
        std::memcpy(out, &half, 2);
        break;
    case 6:
        half = std::uint16_t(b << 11 | g << 5 | r);
        std::memcpy(out, &half, 2);
        break;
    case 7:
        half = std::uint16_t(r << 10 | g << 5 | b);
        std::memcpy(out, &half, 2);
        break;
    case 8:
        half = std::uint16_t(b << 10 | g << 5 | r);
        std::memcpy(out, &half, 2);
        break;
    }
}

int greenWidth(int dst) {
    return dst == 5 || dst == 6 ? 6 : dst >= 7 ? 5 : 8;
}
int redBlueWidth(int dst) {
    return dst >= 5 ? 5 : 8;
}

void referenceConvert(int src, int dst, const std::uint8_t* in, std::uint8_t* out, int count) {
    int inSize = pixelSize(src), outSize = pixelSize(dst);
    for (int i = 0; i < count; ++i, in += inSize, out += outSize) {
        if (src == 1) {
            std::uint32_t p;
            std::memcpy(&p, in, 4);
            std::uint32_t r = p >> 16 & 255, g = p >> 8 & 255, b = p & 255;
            if (dst == 1) {
                std::memcpy(out, &p, 4);
            } else if (dst == 9) {
                float f[3] = {float(r) / 256.0f, float(g) / 256.0f, float(b) / 256.0f};
                std::memcpy(out, f, 12);
            } else {
                int rb = redBlueWidth(dst), gb = greenWidth(dst);
                refStore(dst, r >> (8 - rb), g >> (8 - gb), b >> (8 - rb), out);
            }
        } else {
            float f[4];
            std::memcpy(f, in, 16);
            if (dst == 9) {
                std::memcpy(out, in, 16);
            } else {
                int rb = redBlueWidth(dst), gb = greenWidth(dst);
                refStore(dst, refChannel(f[0], rb), refChannel(f[1], gb), refChannel(f[2], rb),
                         out);
            }
        }
    }
}

// Random source pixels; floats mix ordinary values in and around [0, 1] with
// the awkward ones.
std::vector<std::uint8_t> randomSource(int src, int count, std::mt19937& rng) {
    std::vector<std::uint8_t> data(std::size_t(count) * pixelSize(src));
    if (src == 1) {
        for (auto& b : data)
            b = std::uint8_t(rng());
        return data;
    }
    const float specials[] = {0.0f,
                              -0.0f,
                              1.0f,
                              0.99999994f,
                              0.9999999f,
                              0.5f,
                              -0.25f,
                              2.0f,
                              1.0e-30f,
                              std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(),
                              std::numeric_limits<float>::quiet_NaN(),
                              -std::numeric_limits<float>::quiet_NaN(),
                              std::numeric_limits<float>::denorm_min()};
    std::uniform_real_distribution<float> around(-0.2f, 1.2f);
    for (std::size_t i = 0; i < data.size() / 4; ++i) {
        float v = rng() % 5 == 0 ? specials[rng() % std::size(specials)] : around(rng);
        std::memcpy(&data[i * 4], &v, 4);
    }
    return data;
}

} // namespace

TEST(Converters, RequestCoversExactlyTheEighteenPairs) {
    for (int src = -1; src <= 10; ++src)
        for (int dst = -1; dst <= 10; ++dst) {
            bool exists = (src == 1 || src == 9) && dst >= 1 && dst <= 9;
            EXPECT_EQ(requestConverter(src, dst) != nullptr, exists) << src << " -> " << dst;
        }
    EXPECT_EQ(requestConverter(1, 5), requestConverter(1, 5)); // one static object per pair
    EXPECT_NE(requestConverter(1, 5), requestConverter(9, 5));
}

TEST(Converters, IntegerSourceExamples) {
    std::uint32_t p = 0x00FF8040;
    std::uint16_t out = 0;
    requestConverter(1, 5)->convert(&p, &out, 1);
    EXPECT_EQ(out, 0xFC08);
    requestConverter(1, 7)->convert(&p, &out, 1);
    EXPECT_EQ(out, 0x7E08);

    // X bits survive the plain copy and vanish in the swap.
    std::uint32_t x = 0xAB123456, word = 0;
    requestConverter(1, 1)->convert(&x, &word, 1);
    EXPECT_EQ(word, 0xAB123456u);
    requestConverter(1, 2)->convert(&x, &word, 1);
    EXPECT_EQ(word, 0x00563412u);

    std::uint8_t bytes[3];
    requestConverter(1, 3)->convert(&x, bytes, 1);
    EXPECT_EQ(bytes[0], 0x12);
    EXPECT_EQ(bytes[1], 0x34);
    EXPECT_EQ(bytes[2], 0x56);
}

TEST(Converters, ByteToFloatIsOver256AndKeepsTheFourth) {
    std::uint32_t p = 0x00FF8000;
    float f[4] = {9.0f, 9.0f, 9.0f, 7.5f};
    Converter_XRGB8888_to_XBGRFFFF converter;
    converter.convert(&p, f, 1);
    EXPECT_EQ(f[0], 0.99609375f); // 255 / 256, not 1.0
    EXPECT_EQ(f[1], 0.5f);
    EXPECT_EQ(f[2], 0.0f);
    EXPECT_EQ(f[3], 7.5f);
}

TEST(Converters, FloatChannelExamples) {
    float px[4] = {0.5f, 1.0f, -0.25f, 123.0f};
    std::uint32_t word = 0;
    requestConverter(9, 1)->convert(px, &word, 1);
    EXPECT_EQ(word, 0x0080FF00u); // red 128, green 255, blue 0; fourth ignored

    std::uint16_t half = 0;
    float halfRed[4] = {0.5f, 0.0f, 0.0f, 0.0f};
    requestConverter(9, 7)->convert(halfRed, &half, 1);
    EXPECT_EQ(half >> 10, 16);
    requestConverter(9, 5)->convert(halfRed, &half, 1);
    EXPECT_EQ(half >> 11, 16);

    float edges[4] = {0.99999994f, -0.0f, std::numeric_limits<float>::infinity(), 0.0f};
    requestConverter(9, 1)->convert(edges, &word, 1);
    EXPECT_EQ(word, 0x00FF00FFu);
    float nans[4] = {std::numeric_limits<float>::quiet_NaN(),
                     -std::numeric_limits<float>::quiet_NaN(), 0.99999988f, 0.0f};
    requestConverter(9, 1)->convert(nans, &word, 1);
    EXPECT_EQ(word, 0x00FF00FFu);
    EXPECT_EQ(bitsOf(0.99999988f), 0x3F7FFFFEu);
}

TEST(Converters, RoundTrips) {
    std::mt19937 rng(7);
    const int n = 999; // odd, to exercise the one-by-one tail
    std::vector<std::uint32_t> words(n);
    for (auto& w : words)
        w = rng() & 0x00FFFFFF;
    // Integer -> float -> integer returns every byte.
    std::vector<float> floats(std::size_t(n) * 4, 0.0f);
    requestConverter(1, 9)->convert(words.data(), floats.data(), n);
    std::vector<std::uint32_t> back(n);
    requestConverter(9, 1)->convert(floats.data(), back.data(), n);
    EXPECT_EQ(back, words);
    // XBGR8888 swaps twice into the original (the X byte was 0).
    std::vector<std::uint32_t> swapped(n), again(n);
    requestConverter(1, 2)->convert(words.data(), swapped.data(), n);
    requestConverter(1, 2)->convert(swapped.data(), again.data(), n);
    EXPECT_EQ(again, words);
    // 8-bit float round trip through the float formats copies exactly.
    std::vector<float> copy(floats.size());
    requestConverter(9, 9)->convert(floats.data(), copy.data(), n);
    EXPECT_EQ(std::memcmp(copy.data(), floats.data(), floats.size() * 4), 0);
}

TEST(Converters, ZeroLengthAndNegativeRunsTouchNothing) {
    for (int src : {1, 9})
        for (int dst = 1; dst <= 9; ++dst) {
            std::vector<std::uint8_t> in(64, 0x55), out(64, 0xEE);
            requestConverter(src, dst)->convert(in.data(), out.data(), 0);
            requestConverter(src, dst)->convert(in.data(), out.data(), -3);
            EXPECT_EQ(out, std::vector<std::uint8_t>(64, 0xEE)) << src << " -> " << dst;
        }
}

// Every pair against the per-pixel reference, for run lengths around the
// four-pixel grouping and at an odd offset, with a guard after the run.
TEST(Converters, AllPairsMatchThePerPixelReference) {
    std::mt19937 rng(1234);
    for (int src : {1, 9})
        for (int dst = 1; dst <= 9; ++dst)
            for (int count : {1, 2, 3, 4, 5, 7, 8, 999}) {
                std::vector<std::uint8_t> in = randomSource(src, count, rng);
                std::size_t outBytes = std::size_t(count) * pixelSize(dst);
                // The destination starts with the same random bytes in both, so
                // bytes a converter leaves alone (the fourth float) must agree.
                std::vector<std::uint8_t> got(outBytes + 1 + 16), want;
                for (auto& b : got)
                    b = std::uint8_t(rng());
                want = got;
                Converter* converter = requestConverter(src, dst);
                converter->begin();
                converter->convert(in.data(), got.data() + 1, count);
                referenceConvert(src, dst, in.data(), want.data() + 1, count);
                ASSERT_EQ(got, want) << src << " -> " << dst << ", " << count << " pixels";
            }
}
