// The per-pixel stages. The tile rasterizer against a naive per-pixel
// reference: the edge functions evaluated directly at every pixel with the same
// snapping and fill rule, and the depth plane evaluated from the triangle's
// origin; shadow bins. The final pass: resolve rounding, band clear and
// markers, the tent blur and the overlay.

#include "assets/texture.h"
#include "render/internal/finalpass.h"
#include "render/internal/raster.h"
#include "render/internal/shadowbin.h"
#include "render/simd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <span>
#include <vector>

namespace lumo {
namespace {

// Calls pixel(index, Z) for every pixel of the width x height picture the
// triangle covers, with the depth of the shading members or of the stencil ones:
// the plane's value held to the range of the corners' depths, widened by 65536.
template <typename F>
void forEachCovered(const vec4 v[3], bool stencilDepth, int width, int height, F&& pixel) {
    float ux = v[1].x - v[0].x, uy = v[1].y - v[0].y, vx = v[2].x - v[0].x, vy = v[2].y - v[0].y;
    float area = ux * vy - vx * uy;
    if (!(area < 0.0f)) {
        return;
    }
    int64_t X[3], Y[3];
    int32_t Z[3];
    for (int k = 0; k < 3; ++k) {
        X[k] = std::lrint(v[k].x * 16.0f);
        Y[k] = std::lrint(v[k].y * 16.0f);
        Z[k] = stencilDepth ? int32_t((double(v[k].z) - 0.999999) * 536870911.0)
                            : int32_t(double(v[k].z - 1.0f) * 536870911.0);
    }
    const int64_t minX = std::min({X[0], X[1], X[2]}), minY = std::min({Y[0], Y[1], Y[2]});
    const int ox = int(std::max<int64_t>(0, (minX + 15) >> 4)) & ~7;
    const int oy = int(std::max<int64_t>(0, (minY + 15) >> 4)) & ~7;
    float dZ1 = float(Z[1] - Z[0]), dZ2 = float(Z[2] - Z[0]);
    float dZdx = -(uy * dZ2 - vy * dZ1) / area;
    float dZdy = -(vx * dZ1 - ux * dZ2) / area;
    auto clamp32 = [](float f) { return int64_t(std::clamp<double>(f, INT32_MIN, INT32_MAX)); };
    int64_t zx = clamp32(dZdx), zy = clamp32(dZdy);
    int64_t z0 = int64_t((float(ox) - v[0].x) * dZdx + float(Z[0]) + (float(oy) - v[0].y) * dZdy);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bool covered = true;
            for (int k = 0; k < 3; ++k) { // the top-left rule: a tie counts on these edges
                const int q = (k + 1) % 3;
                const int64_t A = Y[q] - Y[k], B = X[k] - X[q];
                const int64_t E = (16 * y - Y[k]) * B + (16 * x - X[k]) * A;
                covered = covered && ((E + (A > 0 || (A == 0 && B > 0)) - 1) >> 4) >= 0;
            }
            if (covered) {
                pixel(size_t(y) * width + x,
                      int32_t(std::clamp<int64_t>(
                          z0 + (x - ox) * zx + (y - oy) * zy,
                          std::max<int64_t>(INT32_MIN, std::min({Z[0], Z[1], Z[2]}) - 65536),
                          std::min<int64_t>(INT32_MAX, std::max({Z[0], Z[1], Z[2]}) + 65536))));
            }
        }
    }
}

RasterInputs triangle(vec4 a, vec4 b, vec4 c, float red) {
    RasterInputs in;
    std::ranges::copy(std::array{a, b, c}, in.screen);
    std::ranges::fill(in.color, vec4(red, 0, 0, 0));
    return in;
}

// Thousands of seeded random triangles of every size, crossing band borders and
// the right and bottom edges, some with vertices on the pixel grid and on
// half-pixels (fill-rule ties), drawn in several band layouts into one buffer:
// first surfaces, then volume faces of both windings counted over them.
TEST(TileRasterizer, MatchesNaiveReferenceOnRandomTriangles) {
    constexpr int W = 136, H = 104, kSurfaces = 1200, kTriangles = 3500;
    const std::vector<std::vector<int>> layouts = {{0, 104}, {0, 8, 48, 56, 104}, {0, 40, 40, 104}};
    const SimdPath active = activeSimdPath();
    for (SimdPath path : kSimdPaths) {
        if (!simdPathSupported(path)) {
            std::printf("skipped the %s path: this processor lacks it\n", simdPathName(path));
            continue;
        }
        setSimdPath(path);
        for (bool fast : {true, false}) {
            setRasterFastPaths(fast);
            for (size_t layout = 0; layout < layouts.size(); ++layout) {
                std::mt19937 rng(1234 + unsigned(layout));
                DepthBuffer depth(W, H);
                ColorBuffer color(W, H);
                StencilBuffer stencil(W, H);
                std::vector<int32_t> refDepth(size_t(W) * H, INT32_MAX);
                std::vector<int> refId(size_t(W) * H, 0);
                std::vector<uint8_t> counts(size_t(W) * H, 0);
                const std::vector<int>& bands = layouts[layout];
                std::uniform_real_distribution<float> cx(-30.0f, W + 30.0f), cy(-30.0f, H + 30.0f),
                    z(-0.9f, 0.99f);
                std::uniform_int_distribution<int> size(0, 2);
                for (int n = 1; n <= kTriangles; ++n) {
                    const float spread = std::array{4.0f, 25.0f, 120.0f}[size_t(size(rng))];
                    std::uniform_real_distribution<float> d(-spread, spread);
                    const float x0 = cx(rng), y0 = cy(rng);
                    RasterInputs in;
                    const vec4* v = in.screen;
                    for (vec4& corner : in.screen) {
                        corner = vec4{x0 + d(rng), y0 + d(rng), z(rng), 1.0f}; // braces: in order
                        if (n % 5 == 0) {
                            corner = vec4(std::round(corner.x * 2) / 2,
                                          std::round(corner.y * 2) / 2, corner.z, 1);
                        }
                    }
                    in.color[0] = vec4(float(n), 0, 0, 0);
                    const Member member = n <= kSurfaces ? Member::Flat
                                          : (n & 1) == 0 ? Member::StencilIncrement
                                                         : Member::StencilDecrement;
                    for (size_t b = 0; b + 1 < bands.size(); ++b) {
                        rasterize(member, {&color, &depth, &stencil, bands[b], bands[b + 1]}, in);
                    }
                    if (n <= kSurfaces) { // the shading depth test: stored >= Z wins
                        forEachCovered(v, false, W, H, [&](size_t i, int32_t z) {
                            if (refDepth[i] >= z) {
                                refDepth[i] = z;
                                refId[i] = n;
                            }
                        });
                    } else { // the stencil members count where the stored depth is nearer
                        const uint8_t step = member == Member::StencilIncrement ? 1 : 255;
                        forEachCovered(v, true, W, H, [&](size_t i, int32_t z) {
                            counts[i] = uint8_t(counts[i] + (refDepth[i] < z ? step : 0));
                        });
                    }
                }
                for (int y = 0; y < H; ++y) {
                    for (int x = 0; x < W; ++x) {
                        size_t i = size_t(y) * W + x;
                        ASSERT_EQ(depth.at(x, y), refDepth[i])
                            << x << "," << y << " layout " << layout << " " << simdPathName(path);
                        ASSERT_EQ(int(color.at(x, y).x), refId[i]) << x << "," << y;
                        ASSERT_EQ(stencil.at(x, y), counts[i]) << x << "," << y;
                    }
                }
                EXPECT_GT(std::ranges::count_if(counts, [](uint8_t c) { return c != 0; }),
                          W * H / 4);
            }
        }
    }
    setRasterFastPaths(true);
    setSimdPath(active);
}

// Slivers: long, nearly degenerate triangles whose depth planes are so steep
// that stepping them across a tile reaches far outside their corners' depths.
// Drawn behind a surface, none of their pixels may poke through it.
TEST(TileRasterizer, SliversStayWithinTheirCornersDepths) {
    constexpr int W = 128, H = 64;
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> along(0.0f, float(W)), across(1.0f, float(H) - 1.0f),
        thin(0.001f, 0.2f), behind(0.6f, 0.99f);
    for (SimdPath path : kSimdPaths) {
        if (!simdPathSupported(path)) {
            continue;
        }
        const SimdPath active = activeSimdPath();
        setSimdPath(path);
        DepthBuffer depth(W, H);
        ColorBuffer color(W, H);
        StencilBuffer stencil(W, H);
        const RasterTarget target{&color, &depth, &stencil, 0, H};
        rasterize(Member::Flat, target,
                  triangle({0, 0, 0.5f, 1}, {0, float(H), 0.5f, 1}, {float(W), 0, 0.5f, 1}, 1.0f));
        rasterize(Member::Flat, target,
                  triangle({float(W), 0, 0.5f, 1}, {0, float(H), 0.5f, 1},
                           {float(W), float(H), 0.5f, 1}, 1.0f));
        const int32_t surface = depth.at(W / 2, H / 2);
        RasterStats stats;
        const RasterTarget sliverTarget{&color, &depth, &stencil, 0, H, &stats};
        for (int n = 0; n < 2000; ++n) {
            const float y = across(rng), x0 = along(rng), x1 = along(rng), t = thin(rng);
            RasterInputs in = triangle({x0, y, behind(rng), 1}, {x1, y + t, behind(rng), 1},
                                       {x1, y - t, behind(rng), 1}, 2.0f);
            if (x1 < x0) {
                std::swap(in.screen[1], in.screen[2]);
            }
            rasterize(Member::Flat, sliverTarget, in);
        }
        EXPECT_GT(stats.triangles, 1000u) << "the slivers reached the tile walk";
        EXPECT_EQ(stats.pixels, 0u) << simdPathName(path);
        for (int y = 0; y < H; ++y) {
            for (int x = 0; x < W; ++x) {
                ASSERT_EQ(depth.at(x, y), surface) << x << "," << y << " " << simdPathName(path);
            }
        }
        setSimdPath(active);
    }
}

// A jittered grid of triangles sharing edges, drawn additively in two bands:
// every pixel inside is drawn exactly once, none twice.
TEST(TileRasterizer, SharedEdgesCoverEachPixelOnce) {
    constexpr int W = 160, H = 128, N = 12;
    std::mt19937 rng(99);
    std::uniform_real_distribution<float> jitter(-3.0f, 3.0f);
    vec4 grid[N + 1][N + 1];
    for (int i = 0; i <= N; ++i) {
        for (int j = 0; j <= N; ++j) {
            const float inner = i % N && j % N ? 1.0f : 0.0f;
            grid[i][j] = vec4{4.0f + j * 12.5f + inner * jitter(rng),
                              3.0f + i * 9.75f + inner * jitter(rng), 0.25f, 1.0f};
        }
    }
    DepthBuffer depth(W, H);
    ColorBuffer color(W, H);
    for (int i = 0; i < N; ++i) {
        for (int j = 0; j < N; ++j) {
            // y-down screen: (top-left, bottom-left, bottom-right) has negative area.
            for (int half = 0; half < 2; ++half) {
                const RasterInputs in = triangle(grid[i][j], grid[i + 1][j + half],
                                                 half ? grid[i][j + 1] : grid[i + 1][j + 1], 1.0f);
                for (int band : {0, 64}) {
                    rasterize(Member::GouraudAdd,
                              RasterTarget{&color, &depth, nullptr, band, band + 64, nullptr}, in);
                }
            }
        }
    }
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            const bool inside = x >= 8 && x < N * 12.5f && y >= 7 && y < N * 9.75f - 1;
            const float count = color.at(x, y).x;
            ASSERT_TRUE(inside ? count == 1.0f : count == 0.0f || count == 1.0f) << x << "," << y;
        }
    }
}

TEST(TileRasterizer, ExtremeAndBrokenInputs) {
    DepthBuffer depth(16, 16);
    ColorBuffer color(16, 16);
    const RasterTarget t{&color, &depth, nullptr, 0, 16, nullptr};
    // Depths far outside [-1, 1) clamp to the 32-bit range instead of wrapping:
    // 10 ties with the cleared value and is drawn; -10 is nearest; 1e30 is behind it.
    for (float z : {10.0f, -10.0f, 1e30f}) {
        rasterize(Member::Flat, t, triangle({0, 0, z, 1}, {0, 16, z, 1}, {16, 0, z, 1}, z));
        EXPECT_EQ(depth.at(1, 1), z == 10.0f ? INT32_MAX : INT32_MIN);
        EXPECT_EQ(color.at(1, 1).x, z == 10.0f ? 10.0f : -10.0f);
    }
    // Non-finite or far-away vertices draw nothing and do not crash.
    for (float bad : {NAN, 1e9f}) {
        rasterize(Member::Flat, t,
                  triangle({-bad, 0, -0.5f, 1}, {0, bad, -0.5f, 1}, {bad, bad, -0.5f, 1}, 1.0f));
        EXPECT_EQ(color.at(15, 7).x, 0.0f);
    }
    // Texel coordinates wrap whatever their value (1.5 and 2.5 round to even),
    // and the power approximation of a zero base is zero.
    for (auto [u, texel] :
         {std::pair{1.0f, 0}, {-0.25f, 3}, {0.375f, 2}, {0.625f, 2}, {NAN, 0}, {1e30f, 0}}) {
        EXPECT_EQ(wrapTexel(u, 4), texel) << u;
    }
    EXPECT_EQ(powApprox(0.0f, 8.0f), 0.0f);
}

// A bin triangle of either winding is counted over a surface at the same z (the
// volume lies some 537 units behind it): positive y-down area increments (drawn
// reversed), the other winding decrements, and counts wrap.
// Textured faces sample the packed bytes where a texture has them: the same
// floats as the float texels, on every path; a texel that is not its bytes'
// floats keeps the texture from being packed at all.
TEST(TileRasterizer, PackedTexelsSampleTheSameFloats) {
    constexpr int W = 96, H = 64;
    std::mt19937 rng(11);
    TextureImage texture;
    texture.width = 37; // not a power of two: the wrap's remainder path too
    texture.height = 16;
    std::vector<uint8_t> bytes(size_t(texture.width) * texture.height * 4);
    for (uint8_t& b : bytes) {
        b = uint8_t(rng());
    }
    for (size_t i = 0; i < bytes.size(); i += 4) {
        const uint32_t p = bytes[i] | uint32_t(bytes[i + 1]) << 8 | uint32_t(bytes[i + 2]) << 16 |
                           uint32_t(bytes[i + 3]) << 24;
        texture.texels.push_back(unpackTexel(p, byteFloatTable()));
    }
    packTexels(texture, bytes.data(), 4);
    ASSERT_EQ(texture.packed.size(), texture.texels.size());

    std::uniform_real_distribution<float> x(-10.0f, W + 10.0f), y(-10.0f, H + 10.0f),
        uv(-3.0f, 3.0f), depth(0.1f, 0.9f), z(-9.0f, -1.0f);
    std::vector<RasterInputs> faces;
    while (faces.size() < 300) {
        RasterInputs in;
        for (int k = 0; k < 3; ++k) {
            in.screen[k] = vec4(x(rng), y(rng), depth(rng), 1.0f);
            in.position[k] = vec4(0.0f, 0.0f, z(rng), 1.0f);
            in.texcoord[k] = vec4(uv(rng), uv(rng), 0.0f, 0.0f);
        }
        if (faces.size() % 2 == 0) {
            std::swap(in.screen[1], in.screen[2]);
        }
        in.texture = &texture;
        faces.push_back(in);
    }
    auto draw = [&] {
        ColorBuffer color(W, H);
        DepthBuffer depth(W, H);
        for (const RasterInputs& in : faces) {
            rasterize(Member::Textured, {&color, &depth, nullptr, 0, H}, in);
        }
        return std::vector<vec4>(color.pixels, color.pixels + W * H);
    };
    const SimdPath active = activeSimdPath();
    std::vector<std::vector<vec4>> pictures;
    for (SimdPath path : kSimdPaths) {
        setSimdPath(path);
        pictures.push_back(draw());
    }
    const AlignedVector<uint32_t> packed = texture.packed;
    texture.packed.clear();
    pictures.push_back(draw());
    setSimdPath(active);
    for (const std::vector<vec4>& picture : pictures) {
        EXPECT_EQ(
            std::memcmp(picture.data(), pictures.back().data(), picture.size() * sizeof(vec4)), 0);
    }
    EXPECT_GT(std::count_if(pictures.back().begin(), pictures.back().end(),
                            [](const vec4& p) { return p.w != 0.0f; }),
              W * H / 4);

    texture.texels[5].y = std::nextafter(texture.texels[5].y, 2.0f);
    packTexels(texture, bytes.data(), 4);
    EXPECT_TRUE(texture.packed.empty());
}

TEST(ShadowBin, WindingChoosesIncrementOrDecrement) {
    DepthBuffer depth(32, 32);
    StencilBuffer stencil(32, 32);
    ColorBuffer color(32, 32);
    rasterize(Member::Flat, RasterTarget{&color, &depth, nullptr, 0, 32, nullptr},
              triangle({-8, -8, 0.5f, 1}, {-8, 60, 0.5f, 1}, {60, -8, 0.5f, 1}, 0));
    const vec4 bin[6] = {{0, 0, 0.5f, 1},   {16, 0, 0.5f, 1},  {0, 16, 0.5f, 1},
                         {16, 16, 0.5f, 1}, {16, 32, 0.5f, 1}, {32, 16, 0.5f, 1}};
    rasterizeShadowBin(bin, 6, 0, 32, stencil, depth);
    EXPECT_EQ(stencil.at(2, 2), 1);
    EXPECT_EQ(stencil.at(17, 17), 255);
}

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
    resolveRows(color, wholeBuffer(color), canvas, 0, 10, 8, 16,
                0.0f); // rows 18..25: only 18, 19 fit
    EXPECT_EQ(pixels[17 * 8], 7u);
    EXPECT_EQ(pixels[18 * 8 + 3], 8u << 16);
    EXPECT_EQ(pixels[19 * 8 + 7], 9u << 16);
    resolveRows(color, wholeBuffer(color), canvas, 0, -4, 0, 8, 0.0f); // rows -4..3: only 0..3
    EXPECT_EQ(pixels[0], 4u << 16);
    EXPECT_EQ(pixels[4 * 8], 7u);

    ColorBuffer bands(16, 16);
    std::fill_n(bands.pixels, 256, vec4(1, 1, 1, 1));
    clearColorRows(bands, 8, 16);
    EXPECT_EQ(bands.at(3, 7), vec4(1, 1, 1, 1));
    EXPECT_EQ(bands.at(3, 8), vec4());
    markBands(bands, wholeBuffer(bands), 8, 16, 1);
    EXPECT_EQ(bands.at(7, 15), vec4(1, 0, 1, 0));
    EXPECT_EQ(bands.at(8, 15), vec4());
    EXPECT_EQ(bands.at(0, 0), vec4(1, 1, 1, 1));   // only worker 0 marks row 0
    markBands(bands, wholeBuffer(bands), 8, 8, 1); // an empty band marks nothing
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

// A picture smaller than its buffer (the padding up to whole tiles holds
// leftovers): the blur sees only the picture, as if the buffer were its size,
// and leaves the padding alone; the resolve places the picture anywhere in the
// canvas, cut at either's edges; the markers and overlays stay inside it.
TEST(FinalPass, APictureInsideAPaddedBuffer) {
    constexpr int W = 13, H = 11, BW = 16, BH = 16;
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> d(0.0f, 1.0f);
    ColorBuffer padded(BW, BH), exact(W, H);
    for (int y = 0; y < BH; ++y) {
        for (int x = 0; x < BW; ++x) {
            padded.at(x, y) =
                x < W && y < H ? vec4(d(rng), d(rng), d(rng), d(rng)) : vec4(9, 9, 9, 9);
            if (x < W && y < H) {
                exact.at(x, y) = padded.at(x, y);
            }
        }
    }
    const Extent picture{W, H};
    for (int parts : {1, 3}) {
        ColorBuffer copy(BW, BH);
        std::copy_n(padded.pixels, BW * BH, copy.pixels);
        BlurScratch scratch;
        ASSERT_TRUE(blurPrepare(copy, picture, 4, scratch, parts));
        for (int k = 0; k < parts; ++k) {
            blurRows(copy, picture, 4, scratch, k, H * k / parts, H * (k + 1) / parts);
        }
        for (int k = 0; k < parts; ++k) {
            blurColumns(copy, picture, 4, scratch, k, W * k / parts, W * (k + 1) / parts);
        }
        if (parts == 1) {
            ASSERT_TRUE(blurColorBuffer(exact, 4));
        }
        for (int y = 0; y < BH; ++y) {
            for (int x = 0; x < BW; ++x) {
                ASSERT_EQ(copy.at(x, y), x < W && y < H ? exact.at(x, y) : vec4(9, 9, 9, 9))
                    << parts << " parts at " << x << "," << y;
            }
        }
    }

    // Pillarboxed 5 columns to the right and cut by the canvas's right edge.
    std::vector<uint32_t> frame(16 * 12, 7);
    Canvas canvas{frame.data(), 16, 12};
    resolveRows(padded, picture, canvas, 5, 1, 0, BH, 0.0f);
    for (int y = 0; y < 12; ++y) {
        for (int x = 0; x < 16; ++x) {
            const bool inside = x >= 5 && y >= 1 && y < 1 + H;
            const uint32_t want = inside ? resolvePixel(padded.at(x - 5, y - 1), 0.0f) : 7u;
            ASSERT_EQ(frame[y * 16 + x], want) << x << "," << y;
        }
    }
    // Moved left and up past the canvas's corner.
    std::fill(frame.begin(), frame.end(), 7u);
    resolveRows(padded, picture, canvas, -3, -2, 0, BH, 0.0f);
    EXPECT_EQ(frame[0], resolvePixel(padded.at(3, 2), 0.0f));
    EXPECT_EQ(frame[(H - 3) * 16 + W - 4], resolvePixel(padded.at(W - 1, H - 1), 0.0f));
    EXPECT_EQ(frame[(H - 3) * 16 + W - 3], 7u);
    EXPECT_EQ(frame[(H - 2) * 16], 7u);

    // The last band ends in the padding: its marker goes on the picture's last
    // row, half the picture wide.
    markBands(padded, picture, 8, BH, 1);
    EXPECT_EQ(padded.at(5, H - 1), vec4(1, 0, 1, 0));
    EXPECT_NE(padded.at(6, H - 1), vec4(1, 0, 1, 0));
    EXPECT_EQ(padded.at(0, BH - 1), vec4(9, 9, 9, 9));
    // Thicker markers, for larger pictures: the band's last rows, and the
    // first ones for worker 0, never beyond the band.
    markBands(padded, picture, 0, 5, 0, 3);
    for (int y = 0; y < 6; ++y) {
        EXPECT_EQ(padded.at(0, y) == vec4(1, 0, 1, 0), y < 5) << y;
    }

    const TextureImage white{AlignedVector<vec4>(400, vec4(1, 1, 1, 1)), 20, 20};
    compositeOverlay(padded, picture, white, 2, 2, 1.0f);
    EXPECT_EQ(padded.at(W - 1, H - 1), vec4(1, 1, 1, padded.at(W - 1, H - 1).w));
    EXPECT_EQ(padded.at(W, 5), vec4(9, 9, 9, 9));
    EXPECT_EQ(padded.at(5, H), vec4(9, 9, 9, 9));
    // Far off the picture: a position whose sum with the size would wrap.
    const std::vector<vec4> before(padded.pixels, padded.pixels + BW * BH);
    compositeOverlay(padded, picture, white, std::numeric_limits<int>::min() + 5, 0, 1.0f);
    compositeOverlay(padded, picture, white, 0, std::numeric_limits<int>::max() - 5, 1.0f);
    EXPECT_EQ(std::vector<vec4>(padded.pixels, padded.pixels + BW * BH), before);
}

TEST(Overlay, BlendsPremultipliedAndClips) {
    // An alpha other than 0.5, where s.a and 1 - s.a would agree.
    const TextureImage image{AlignedVector<vec4>(12, vec4(0.2f, 0.1f, 0.0f, 0.25f)), 4, 3};
    ColorBuffer color(8, 8);
    const vec4 grey(0.4f, 0.4f, 0.4f, 0.9f);
    std::fill_n(color.pixels, 64, grey);
    compositeOverlay(color, wholeBuffer(color), image, 2, 2, 0.5f);
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
    compositeOverlay(small, wholeBuffer(small), wide, -6, -6, 1.0f);
    EXPECT_EQ(small.at(7, 7).x, 1.0f);
    const std::vector<vec4> before(color.pixels, color.pixels + 64);
    compositeOverlay(color, wholeBuffer(color), wide, 0, 8, 1.0f);
    compositeOverlay(color, wholeBuffer(color), wide, 8, 0, 1.0f);
    wide.texels.resize(399);
    compositeOverlay(color, wholeBuffer(color), wide, 0, 0, 1.0f);
    EXPECT_EQ(std::vector<vec4>(color.pixels, color.pixels + 64), before);
}

// Every pixel, whatever its values, gets exactly the expression of each
// channel; row ranges split the composite without changing a bit.
TEST(Overlay, EveryChannelIsTheScalarExpressionAndRowRangesSplitIt) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> value(-2.0f, 3.0f);
    const float specials[] = {std::numeric_limits<float>::quiet_NaN(),
                              std::numeric_limits<float>::infinity(), -0.0f, 1e-40f, 3e38f};
    auto fill = [&](vec4* p, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            p[i] = vec4(value(rng), value(rng), value(rng), value(rng));
            if (i % 17 == 0) {
                (&p[i].x)[i % 4] = specials[i % 5];
            }
        }
    };
    TextureImage image{AlignedVector<vec4>(13 * 9), 13, 9};
    fill(image.texels.data(), image.texels.size());
    ColorBuffer color(23, 15);
    fill(color.pixels, 23 * 15);
    const std::vector<vec4> before(color.pixels, color.pixels + 23 * 15);
    const Extent picture{20, 14};
    const float a = 0.7f;
    compositeOverlay(color, picture, image, 11, -2, a);
    auto same = [](float x, float y) { return std::memcmp(&x, &y, sizeof x) == 0; };
    for (int y = 0; y < 15; ++y) {
        for (int x = 0; x < 23; ++x) {
            vec4 want = before[size_t(y) * 23 + x];
            const int i = x - 11, j = y + 2;
            if (x < picture.width && y < picture.height && i >= 0 && i < 13 && j < 9) {
                const vec4& s = image.texels[size_t(j) * 13 + i];
                const float keep = 1.0f - a, sa = 1.0f - s.w;
                want.x = want.x * keep + (want.x * sa + s.x) * a;
                want.y = want.y * keep + (want.y * sa + s.y) * a;
                want.z = want.z * keep + (want.z * sa + s.z) * a;
            }
            const vec4& got = color.at(x, y);
            ASSERT_TRUE(same(got.x, want.x) && same(got.y, want.y) && same(got.z, want.z) &&
                        same(got.w, want.w))
                << x << "," << y;
        }
    }
    // The rows it covers, and the same composite in three row ranges that
    // reach past them.
    EXPECT_EQ(overlayRows(picture, image, -2).begin, 0);
    EXPECT_EQ(overlayRows(picture, image, -2).end, 7);
    EXPECT_EQ(overlayRows(picture, image, 12).end, 14);
    EXPECT_EQ(overlayRows(picture, image, 40).begin, overlayRows(picture, image, 40).end);
    const std::vector<vec4> whole(color.pixels, color.pixels + 23 * 15);
    std::copy(before.begin(), before.end(), color.pixels);
    for (auto [begin, end] : {std::pair{-5, 2}, {2, 3}, {3, 100}}) {
        compositeOverlayRows(color, picture, image, 11, -2, a, begin, end);
    }
    EXPECT_EQ(std::memcmp(color.pixels, whole.data(), whole.size() * sizeof(vec4)), 0);
}

} // namespace
} // namespace lumo
