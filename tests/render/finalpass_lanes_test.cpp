// The final pass's vector kernels against their scalar twins, and whole
// buffers resolved and blurred on every vector path this processor has. A
// lane that rounds, saturates or orders bytes differently, a tail pixel that is
// skipped or written past the end, or a path whose sums drift would each
// change a picture.

#include "render/internal/finalpass.h"
#include "render/internal/finalpass_lanes.h"
#include "render/simd.h"
#include "scenes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace lumo {
namespace {

using Limits = std::numeric_limits<float>;

// Seeded values mostly around [0, 1], the ties of the resolve's rounding, and
// every kind of value a broken frame may hold.
std::vector<float> channelValues(size_t count, unsigned seed) {
    std::vector<float> values = {Limits::quiet_NaN(),
                                 -Limits::quiet_NaN(),
                                 Limits::infinity(),
                                 -Limits::infinity(),
                                 Limits::denorm_min(),
                                 -Limits::denorm_min(),
                                 1e-40f,
                                 -1e-40f,
                                 Limits::max(),
                                 -Limits::max(),
                                 1e30f,
                                 -1e30f,
                                 3e9f,
                                 -3e9f,
                                 0.0f,
                                 -0.0f,
                                 1.0f,
                                 -1.0f,
                                 255.0f / 256.0f,
                                 255.5f / 256.0f,
                                 std::nextafter(255.0f / 256.0f, 0.0f)};
    for (int k = 0; k < 256; ++k) {
        values.push_back((float(k) + 0.5f) / 256.0f); // exact ties, both parities
    }
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> unit(-0.3f, 1.3f);
    while (values.size() < count) {
        values.push_back(unit(random));
    }
    std::shuffle(values.begin(), values.end(), random);
    values.resize(count);
    return values;
}

std::vector<vec4> pixelsOf(const std::vector<float>& values) {
    std::vector<vec4> pixels(values.size() / 4);
    std::memcpy(static_cast<void*>(pixels.data()), values.data(), pixels.size() * sizeof(vec4));
    return pixels;
}

// Equal bits, or both NaN: a NaN's sign and payload never reach a picture
// (the resolve turns every NaN into 255).
bool sameFloat(float a, float b) {
    return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

::testing::AssertionResult samePixels(const vec4* a, const vec4* b, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const float* x = &a[i].x;
        const float* y = &b[i].x;
        for (int c = 0; c < 4; ++c) {
            if (!sameFloat(x[c], y[c])) {
                return ::testing::AssertionFailure()
                       << "pixel " << i << " channel " << c << ": " << x[c] << " vs " << y[c];
            }
        }
    }
    return ::testing::AssertionSuccess();
}

// Sets a vector path for one scope and restores the one before.
class PathScope {
public:
    explicit PathScope(SimdPath path) : previous_(activeSimdPath()) { setSimdPath(path); }
    ~PathScope() { setSimdPath(previous_); }
    PathScope(const PathScope&) = delete;
    PathScope& operator=(const PathScope&) = delete;

private:
    SimdPath previous_;
};

using ResolveKernel = void (*)(const vec4*, uint32_t*, size_t, float);

// Every count from 0 to 40 (all tails of both widths), from an odd start so
// the wide loads straddle their natural alignment, into a canvas at every
// word offset from a 32-byte block (where streamed writes begin) whose words
// before and past the pixels must stay untouched.
void expectResolveMatchesTwin(ResolveKernel kernel, const char* name) {
    const std::vector<vec4> pixels = pixelsOf(channelValues(4 * 2048, 11));
    for (float bias : {0.0f, 0.25f, -1.0f, -0.5f / 256.0f, 1e-40f}) {
        std::vector<uint32_t> expected(pixels.size()), got(pixels.size() + 8, 0xDEADBEEFu);
        finalpass::resolveScalar(pixels.data(), expected.data(), pixels.size(), bias);
        kernel(pixels.data(), got.data(), pixels.size(), bias);
        for (size_t i = 0; i < pixels.size(); ++i) {
            ASSERT_EQ(got[i], expected[i]) << name << " bias " << bias << " pixel " << i;
        }
        for (size_t count = 0; count <= 40; ++count) {
            for (size_t offset = 0; offset < 8; ++offset) {
                std::fill(got.begin(), got.end(), 0xDEADBEEFu);
                kernel(pixels.data() + 1, got.data() + offset, count, bias);
                for (size_t i = 0; i < offset + count + 8; ++i) {
                    const bool written = i >= offset && i < offset + count;
                    ASSERT_EQ(got[i], written ? expected[i - offset + 1] : 0xDEADBEEFu)
                        << name << " count " << count << " offset " << offset << " word " << i;
                }
            }
        }
    }
}

TEST(FinalPassLanes, ResolveKernelsMatchTheScalarTwin) {
    // The twin against the one-pixel SSE resolve the rule is written for.
    for (const vec4& p : pixelsOf(channelValues(4 * 2048, 3))) {
        for (float bias : {0.0f, 0.25f, -1.0f}) {
            ASSERT_EQ(finalpass::resolvePixelScalar(p, bias), resolvePixel(p, bias))
                << p.x << " " << p.y << " " << p.z << " " << p.w << " bias " << bias;
        }
    }
    expectResolveMatchesTwin(finalpass::resolveSse, "sse");
    if (!simdPathSupported(SimdPath::Avx2)) {
        GTEST_SKIP() << "this processor has no avx2: only the sse kernel was checked";
    }
    expectResolveMatchesTwin(finalpass::resolveAvx2, "avx2");
    expectResolveMatchesTwin(finalpass::resolveAvx2Streamed, "avx2 streamed");
}

// Rows and columns of every length around a step of lines, radii shorter and
// longer than the line, column ranges starting and ending inside a block,
// against one scalar line at a time; the results sit in column blocks between
// the two passes.
TEST(FinalPassLanes, TentLinesMatchTheScalarTwin) {
    if (!simdPathSupported(SimdPath::Avx2)) {
        GTEST_SKIP() << "this processor has no avx2: no wide tent kernel to check";
    }
    std::mt19937 random(17);
    auto withExtremes = [&](size_t n) {
        std::vector<vec4> v = test::randomPixels(random, n);
        v[n / 2].y = 1e-40f; // a denormal, a huge and a negative value
        v[n / 3].z = 3e30f;
        v[n - 1].w = -7.0f;
        return v;
    };
    for (int lines : {1, 3, 4, 9}) {
        for (int count : {1, 2, 7, 33}) {
            for (int r : {1, 2, 5, 40}) {
                SCOPED_TRACE(testing::Message() << lines << " lines of " << count << ", r " << r);
                std::vector<finalpass::RingSample> ring((2 * r + 1) * finalpass::kTentLinesInStep);
                // Rows: line k is row k of a count x lines picture.
                const std::vector<vec4> rows = withExtremes(size_t(lines) * count);
                const size_t rowBlock = 4 * size_t(lines);
                std::vector<vec4> expected(rows.size()), blocks(rowBlock * ((count + 3) / 4));
                for (int k = 0; k < lines; ++k) {
                    finalpass::tentLineScalar(&rows[size_t(k) * count],
                                              &expected[size_t(k) * count], count, 1, r,
                                              ring.data());
                }
                finalpass::tentRowsAvx2(rows.data(), size_t(count), lines, count, blocks.data(),
                                        rowBlock, r, ring.data(), count > 7);
                for (int k = 0; k < lines; ++k) {
                    for (int x = 0; x < count; ++x) {
                        ASSERT_TRUE(samePixels(&blocks[(x / 4) * rowBlock + 4 * k + x % 4],
                                               &expected[size_t(k) * count + x], 1))
                            << "row " << k << ", pixel " << x;
                    }
                }
                // Columns: line k is column k of a lines x count picture in blocks.
                const size_t columnBlock = 4 * size_t(count);
                const std::vector<vec4> in = withExtremes(columnBlock * ((lines + 3) / 4));
                std::vector<vec4> want(in.size());
                for (int x = 0; x < lines; ++x) {
                    const size_t at = (x / 4) * columnBlock + x % 4;
                    finalpass::tentLineScalar(&in[at], &want[at], count, 4, r, ring.data());
                }
                for (int begin : {0, 1}) {
                    std::vector<vec4> got(size_t(lines) * count, vec4(5, 5, 5, 5));
                    finalpass::tentColumnsAvx2(in.data(), columnBlock, begin, lines, count,
                                               got.data(), size_t(lines), r, ring.data(),
                                               count > 7);
                    for (int y = 0; y < count; ++y) {
                        for (int x = 0; x < lines; ++x) {
                            const vec4* w = x < begin
                                                ? &got[size_t(y) * lines + x]
                                                : &want[(x / 4) * columnBlock + 4 * y + x % 4];
                            ASSERT_TRUE(samePixels(&got[size_t(y) * lines + x], w, 1))
                                << "columns from " << begin << ": pixel " << x << ", " << y;
                        }
                        if (begin > 0) {
                            EXPECT_EQ(got[size_t(y) * lines], vec4(5, 5, 5, 5));
                        }
                    }
                }
            }
        }
    }
    // A NaN or an infinity spoils its lines on every path alike.
    std::vector<vec4> in(4 * 9, vec4(0.5f, 0.5f, 0.5f, 0.5f)), expected(in.size()),
        blocks(4 * 4 * 3);
    std::vector<finalpass::RingSample> ring(3 * finalpass::kTentLinesInStep);
    in[5].x = Limits::quiet_NaN();
    in[14].y = Limits::infinity();
    in[30].z = -Limits::infinity();
    for (int k = 0; k < 4; ++k) {
        finalpass::tentLineScalar(in.data() + 9 * k, expected.data() + 9 * k, 9, 1, 1, ring.data());
    }
    finalpass::tentRowsAvx2(in.data(), 9, 4, 9, blocks.data(), 16, 1, ring.data(), true);
    for (int k = 0; k < 4; ++k) {
        for (int x = 0; x < 9; ++x) {
            EXPECT_TRUE(samePixels(&blocks[(x / 4) * 16 + 4 * k + x % 4], &expected[9 * k + x], 1));
        }
    }
}

// A frame of odd size blurred and resolved on each path gives the same floats
// and the same canvas bytes as on the SSE path; so does a canvas narrower than
// the colour buffer, resolved row by row.
TEST(FinalPassLanes, WholeBuffersAreIdenticalOnEveryPath) {
    constexpr int W = 37, H = 21;
    const std::vector<vec4> frame = pixelsOf(channelValues(4 * W * H, 23));
    struct Result {
        std::vector<vec4> blurred;
        std::vector<uint32_t> resolved, narrow;
    };
    auto run = [&](SimdPath path) {
        PathScope scope(path);
        Result result;
        ColorBuffer color(W, H);
        std::copy(frame.begin(), frame.end(), color.pixels);
        result.resolved.assign(W * H, 0);
        Canvas canvas{result.resolved.data(), W, H};
        resolveRows(color, wholeBuffer(color), canvas, 0, 0, 0, H, 0.0f);
        // Finite values for the blur, or one NaN would spoil every pixel.
        for (vec4& p : std::span(color.pixels, W * H)) {
            for (float* c : {&p.x, &p.y, &p.z, &p.w}) {
                *c = std::isfinite(*c) ? std::clamp(*c, -4.0f, 4.0f) : 0.5f;
            }
        }
        EXPECT_TRUE(blurColorBuffer(color, 3));
        result.blurred.assign(color.pixels, color.pixels + W * H);
        result.narrow.assign(30 * H, 0);
        Canvas narrow{result.narrow.data(), 30, H};
        resolveRows(color, wholeBuffer(color), narrow, 0, -1, 2, H, 0.1f);
        return result;
    };
    const SimdPath before = activeSimdPath();
    const Result reference = run(SimdPath::Sse);
    std::string skipped;
    for (SimdPath path : kSimdPaths) {
        if (!simdPathSupported(path)) {
            skipped += std::string(" ") + simdPathName(path);
            continue;
        }
        const Result result = run(path);
        EXPECT_TRUE(samePixels(result.blurred.data(), reference.blurred.data(), W * H))
            << simdPathName(path);
        EXPECT_EQ(result.resolved, reference.resolved) << simdPathName(path);
        EXPECT_EQ(result.narrow, reference.narrow) << simdPathName(path);
    }
    EXPECT_EQ(activeSimdPath(), before);
    if (!skipped.empty()) {
        GTEST_SKIP() << "paths this processor lacks:" << skipped;
    }
}

} // namespace
} // namespace lumo
