// The tile rasterizer against a naive per-pixel reference: the edge functions
// evaluated directly at every pixel with the same snapping and fill rule, and
// the depth plane evaluated from the triangle's origin.

#include "render/raster.h"
#include "render/shadowbin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace lumo {
namespace {

struct Reference {
    int width, height;
    std::vector<int32_t> depth;
    std::vector<int> id;

    Reference(int w, int h)
        : width(w), height(h), depth(size_t(w) * h, 0x7FFFFFFF), id(size_t(w) * h, 0) {}

    // Draws with the shading depth test (stored >= Z wins) over rows [r0, r1).
    void draw(const vec4 v[3], int triangleId, int r0, int r1) {
        visit(v, false, r0, r1, [&](size_t i, int32_t z) {
            if (depth[i] >= z) {
                depth[i] = z;
                id[i] = triangleId;
            }
        });
    }

    // Counts like the stencil members: where the stored depth is nearer.
    void count(const vec4 v[3], uint8_t step, std::vector<uint8_t>& stencil) {
        visit(v, true, 0, height, [&](size_t i, int32_t z) {
            if (depth[i] < z) {
                stencil[i] = uint8_t(stencil[i] + step);
            }
        });
    }

    // Calls pixel(index, Z) for every covered pixel of rows [r0, r1).
    template <typename F>
    void visit(const vec4 v[3], bool stencilDepth, int r0, int r1, F&& pixel) {
        for (const vec4& p : {v[0], v[1], v[2]}) {
            if (!(p.x >= -512 && p.x <= width + 512 && p.y >= -512 && p.y <= height + 512)) {
                return;
            }
        }
        float ux = v[1].x - v[0].x, uy = v[1].y - v[0].y, vx = v[2].x - v[0].x,
              vy = v[2].y - v[0].y;
        float area = ux * vy - vx * uy;
        if (!(area < 0.0f)) {
            return;
        }
        int64_t X[3], Y[3];
        for (int k = 0; k < 3; ++k) {
            X[k] = std::lrint(v[k].x * 16.0f);
            Y[k] = std::lrint(v[k].y * 16.0f);
        }
        int64_t minX = std::min({X[0], X[1], X[2]});
        int64_t minY = std::min({Y[0], Y[1], Y[2]});
        auto ceil16 = [](int64_t q) { return (q + 15) >> 4; };
        int ox = int(minX + 15 < 16 ? 0 : ceil16(minX)) & ~7;
        int oy = int(std::max<int64_t>(0, ceil16(minY))) & ~7;
        int32_t Z[3];
        for (int k = 0; k < 3; ++k) {
            Z[k] = stencilDepth ? int32_t((double(v[k].z) - 0.999999) * 536870911.0)
                                : int32_t(double(v[k].z - 1.0f) * 536870911.0);
        }
        float dZ1 = float(Z[1] - Z[0]), dZ2 = float(Z[2] - Z[0]);
        float dZdx = -(uy * dZ2 - vy * dZ1) / area;
        float dZdy = -(vx * dZ1 - ux * dZ2) / area;
        auto clamp32 = [](float f) {
            return int64_t(std::clamp<double>(f, -2147483648.0, 2147483647.0));
        };
        int64_t zx = clamp32(dZdx), zy = clamp32(dZdy);
        int64_t z0 =
            int64_t((float(ox) - v[0].x) * dZdx + float(Z[0]) + (float(oy) - v[0].y) * dZdy);
        for (int y = std::max(r0, 0); y < std::min(r1, height); ++y) {
            for (int x = 0; x < width; ++x) {
                bool covered = true;
                for (int k = 0; k < 3; ++k) {
                    int p = k, q = (k + 1) % 3;
                    int64_t A = Y[q] - Y[p], B = X[p] - X[q];
                    int64_t E = (16 * y - Y[p]) * B + (16 * x - X[p]) * A;
                    if (A > 0 || (A == 0 && B > 0)) {
                        E += 1;
                    }
                    covered = covered && ((E - 1) >> 4) >= 0;
                }
                if (!covered) {
                    continue;
                }
                int32_t z = int32_t(
                    std::clamp<int64_t>(z0 + (x - ox) * zx + (y - oy) * zy, INT32_MIN, INT32_MAX));
                pixel(size_t(y) * width + x, z);
            }
        }
    }
};

vec4 randomVertex(std::mt19937& rng, float x0, float y0, float spread) {
    std::uniform_real_distribution<float> d(-spread, spread);
    std::uniform_real_distribution<float> z(-0.9f, 0.99f);
    return {x0 + d(rng), y0 + d(rng), z(rng), 1.0f};
}

void checkTileBounds(const DepthBuffer& depth) {
    for (int t = 0; t < depth.tilesX * depth.tilesY; ++t) {
        for (int i = 0; i < 64; ++i) {
            int32_t v = depth.values[size_t(t) * 64 + i];
            ASSERT_LE(depth.tiles[t].minDepth, v) << "tile " << t;
            ASSERT_GE(depth.tiles[t].maxDepth, v) << "tile " << t;
        }
    }
}

// Thousands of seeded random triangles of every size, crossing band borders and
// the right and bottom edges, drawn in several band layouts into one buffer.
TEST(TileRasterizer, MatchesNaiveReferenceOnRandomTriangles) {
    constexpr int W = 136, H = 104;
    const std::vector<std::vector<int>> layouts = {{0, 104}, {0, 8, 48, 56, 104}, {0, 40, 40, 104}};
    for (bool fast : {true, false}) {
        setRasterFastPaths(fast);
        for (size_t layout = 0; layout < layouts.size(); ++layout) {
            std::mt19937 rng(1234 + unsigned(layout));
            DepthBuffer depth(W, H);
            ColorBuffer color(W, H);
            Reference ref(W, H);
            const std::vector<int>& bands = layouts[layout];
            std::uniform_real_distribution<float> cx(-30.0f, W + 30.0f), cy(-30.0f, H + 30.0f);
            std::uniform_int_distribution<int> size(0, 2);
            for (int n = 1; n <= 1500; ++n) {
                const float spreads[3] = {4.0f, 25.0f, 120.0f};
                float s = spreads[size(rng)];
                float x0 = cx(rng), y0 = cy(rng);
                vec4 v[3] = {randomVertex(rng, x0, y0, s), randomVertex(rng, x0, y0, s),
                             randomVertex(rng, x0, y0, s)};
                if (n % 7 == 0) { // vertices on the pixel grid and half-pixels: fill-rule ties
                    for (vec4& p : v) {
                        p.x = std::round(p.x * 2.0f) / 2.0f;
                        p.y = std::round(p.y * 2.0f) / 2.0f;
                    }
                }
                RasterInputs in;
                for (int k = 0; k < 3; ++k) {
                    in.screen[k] = v[k];
                }
                in.color[0] = vec4(float(n), 0, 0, 0);
                for (size_t b = 0; b + 1 < bands.size(); ++b) {
                    RasterTarget t{&color, &depth, nullptr, bands[b], bands[b + 1], nullptr};
                    rasterize(Member::Flat, t, in);
                }
                ref.draw(v, n, 0, H);
            }
            for (int y = 0; y < H; ++y) {
                for (int x = 0; x < W; ++x) {
                    size_t i = size_t(y) * W + x;
                    ASSERT_EQ(depth.at(x, y), ref.depth[i])
                        << x << "," << y << " layout " << layout;
                    ASSERT_EQ(int(color.at(x, y).x), ref.id[i]) << x << "," << y;
                }
            }
            checkTileBounds(depth);
        }
    }
    setRasterFastPaths(true);
}

// Stencil members over a random depth picture: the counts of thousands of random
// volume faces of both windings, in several band layouts, match the naive
// per-pixel depth-fail count.
TEST(TileRasterizer, StencilMembersMatchNaiveReference) {
    constexpr int W = 136, H = 104;
    const std::vector<std::vector<int>> layouts = {{0, 104}, {0, 8, 48, 56, 104}};
    for (bool fast : {true, false}) {
        setRasterFastPaths(fast);
        for (size_t layout = 0; layout < layouts.size(); ++layout) {
            std::mt19937 rng(777 + unsigned(layout));
            DepthBuffer depth(W, H);
            ColorBuffer color(W, H);
            StencilBuffer stencil(W, H);
            Reference ref(W, H);
            std::vector<uint8_t> counts(size_t(W) * H, 0);
            const std::vector<int>& bands = layouts[layout];
            std::uniform_real_distribution<float> cx(-30.0f, W + 30.0f), cy(-30.0f, H + 30.0f);
            std::uniform_int_distribution<int> size(0, 2);
            const float spreads[3] = {4.0f, 25.0f, 120.0f};
            for (int n = 1; n <= 2500; ++n) {
                float s = spreads[size(rng)];
                float x0 = cx(rng), y0 = cy(rng);
                vec4 v[3] = {randomVertex(rng, x0, y0, s), randomVertex(rng, x0, y0, s),
                             randomVertex(rng, x0, y0, s)};
                if (n % 3 == 0) { // vertices on the pixel grid: pixels on the edges
                    for (vec4& p : v) {
                        p.x = std::round(p.x);
                        p.y = std::round(p.y);
                    }
                }
                RasterInputs in;
                for (int k = 0; k < 3; ++k) {
                    in.screen[k] = v[k];
                }
                // The first 300 build the surfaces, the rest are counted.
                const bool surface = n <= 300;
                const Member member = surface        ? Member::Flat
                                      : (n & 1) == 0 ? Member::StencilIncrement
                                                     : Member::StencilDecrement;
                for (size_t b = 0; b + 1 < bands.size(); ++b) {
                    RasterTarget t{&color, &depth, &stencil, bands[b], bands[b + 1], nullptr};
                    rasterize(member, t, in);
                }
                if (surface) {
                    ref.draw(v, n, 0, H);
                } else {
                    ref.count(v, member == Member::StencilIncrement ? 1 : 255, counts);
                }
            }
            int counted = 0;
            for (int y = 0; y < H; ++y) {
                for (int x = 0; x < W; ++x) {
                    ASSERT_EQ(stencil.at(x, y), counts[size_t(y) * W + x])
                        << x << "," << y << " layout " << layout;
                    counted += counts[size_t(y) * W + x] != 0;
                }
            }
            EXPECT_GT(counted, W * H / 4);
        }
    }
    setRasterFastPaths(true);
}

// A jittered grid of triangles sharing edges: every pixel inside is drawn exactly
// once, none twice (the additive member counts the draws; equal depths pass).
TEST(TileRasterizer, SharedEdgesCoverEachPixelOnce) {
    constexpr int W = 160, H = 128, N = 12;
    std::mt19937 rng(99);
    std::uniform_real_distribution<float> jitter(-3.0f, 3.0f);
    vec4 grid[N + 1][N + 1];
    for (int i = 0; i <= N; ++i) {
        for (int j = 0; j <= N; ++j) {
            bool border = i == 0 || j == 0 || i == N || j == N;
            grid[i][j] = vec4(4.0f + j * 12.5f + (border ? 0.0f : jitter(rng)),
                              3.0f + i * 9.75f + (border ? 0.0f : jitter(rng)), 0.25f, 1.0f);
        }
    }
    DepthBuffer depth(W, H);
    ColorBuffer color(W, H);
    auto draw = [&](const vec4& a, const vec4& b, const vec4& c) {
        RasterInputs in;
        in.screen[0] = a;
        in.screen[1] = b;
        in.screen[2] = c;
        for (vec4& col : in.color) {
            col = vec4(1.0f, 0, 0, 0);
        }
        RasterTarget t{&color, &depth, nullptr, 0, 64, nullptr};
        rasterize(Member::GouraudAdd, t, in);
        t.rowBegin = 64;
        t.rowEnd = H;
        rasterize(Member::GouraudAdd, t, in);
    };
    for (int i = 0; i < N; ++i) {
        for (int j = 0; j < N; ++j) {
            // y-down screen: (top-left, bottom-left, bottom-right) has negative area.
            draw(grid[i][j], grid[i + 1][j], grid[i + 1][j + 1]);
            draw(grid[i][j], grid[i + 1][j + 1], grid[i][j + 1]);
        }
    }
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            float count = color.at(x, y).x;
            ASSERT_TRUE(count == 0.0f || count == 1.0f) << x << "," << y << ": " << count;
            bool inside = x >= 8 && x < 4 + N * 12.5f - 4 && y >= 7 && y < 3 + N * 9.75f - 4;
            if (inside) {
                ASSERT_EQ(count, 1.0f) << x << "," << y;
            }
        }
    }
}

TEST(TileRasterizer, FillRuleWindingAndBands) {
    DepthBuffer depth(32, 32);
    ColorBuffer color(32, 32);
    auto drawFlat = [&](vec4 a, vec4 b, vec4 c, int r0, int r1) {
        RasterInputs in;
        in.screen[0] = a;
        in.screen[1] = b;
        in.screen[2] = c;
        in.color[0] = vec4(1, 1, 1, 1);
        RasterTarget t{&color, &depth, nullptr, r0, r1, nullptr};
        rasterize(Member::Flat, t, in);
    };
    // Square [2, 6] x [2, 6] in one triangle (top-left, bottom-left, bottom-right):
    // left edge x = 2 is in, the bottom edge y = 6 is out.
    drawFlat({2, 2, 0, 1}, {2, 6, 0, 1}, {6, 6, 0, 1}, 0, 32);
    EXPECT_EQ(color.at(2, 3).x, 1.0f); // on the left edge
    EXPECT_EQ(color.at(2, 5).x, 1.0f);
    EXPECT_EQ(color.at(2, 6).x, 0.0f); // on the bottom edge
    EXPECT_EQ(color.at(4, 5).x, 1.0f);
    EXPECT_EQ(color.at(5, 5).x, 0.0f); // on the diagonal, a right edge
    EXPECT_EQ(color.at(3, 2).x, 0.0f); // right of the diagonal
    // Reversed winding draws nothing.
    drawFlat({20, 2, 0, 1}, {28, 10, 0, 1}, {20, 10, 0, 1}, 0, 32);
    for (int y = 0; y < 32; ++y) {
        for (int x = 16; x < 32; ++x) {
            ASSERT_EQ(color.at(x, y).x, 0.0f);
        }
    }
    // A triangle spanning bands draws only inside the band it is given.
    drawFlat({-10, 12, 0, 1}, {-10, 30, 0, 1}, {40, 30, 0, 1}, 16, 24);
    EXPECT_EQ(color.at(0, 15).x, 0.0f);
    EXPECT_EQ(color.at(0, 16).x, 1.0f);
    EXPECT_EQ(color.at(0, 23).x, 1.0f);
    EXPECT_EQ(color.at(0, 24).x, 0.0f);
    // Depths far outside [-1, 1) clamp to the 32-bit range instead of wrapping.
    DepthBuffer deep(16, 16);
    ColorBuffer deepColor(16, 16);
    for (float z : {10.0f, -10.0f, 1e30f}) {
        RasterInputs in;
        in.screen[0] = {0, 0, z, 1};
        in.screen[1] = {0, 16, z, 1};
        in.screen[2] = {16, 0, z, 1};
        in.color[0] = vec4(z, 0, 0, 0);
        RasterTarget t{&deepColor, &deep, nullptr, 0, 16, nullptr};
        rasterize(Member::Flat, t, in);
        // 10 ties with the cleared value and is drawn; -10 is nearest; 1e30 is
        // behind it.
        EXPECT_EQ(deep.at(1, 1), z == 10.0f ? INT32_MAX : INT32_MIN);
        EXPECT_EQ(deepColor.at(1, 1).x, z == 10.0f ? 10.0f : -10.0f);
    }
    // Non-finite or far-away vertices draw nothing and do not crash.
    drawFlat({NAN, 0, 0, 1}, {0, 10, 0, 1}, {10, 10, 0, 1}, 0, 32);
    drawFlat({-1e9f, 0, 0, 1}, {0, 1e9f, 0, 1}, {1e9f, 1e9f, 0, 1}, 0, 32);
    EXPECT_EQ(color.at(1, 9).x, 0.0f);
}

TEST(TileRasterizer, FastFillSetsTileToFaceRangeAndEqualDepthPasses) {
    DepthBuffer depth(16, 16);
    ColorBuffer color(16, 16);
    RasterInputs in;
    in.screen[0] = {-20, -20, 0.5f, 1};
    in.screen[1] = {-20, 60, 0.5f, 1};
    in.screen[2] = {60, -20, 0.6f, 1};
    for (vec4& c : in.color) {
        c = vec4(0.25f, 0, 0, 0);
    }
    RasterTarget t{&color, &depth, nullptr, 0, 16, nullptr};
    rasterize(Member::GouraudAdd, t, in);
    int32_t lo = INT32_MAX, hi = INT32_MIN;
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            lo = std::min(lo, depth.at(x, y));
            hi = std::max(hi, depth.at(x, y));
        }
    }
    EXPECT_EQ(depth.tiles[0].minDepth, lo);
    EXPECT_EQ(depth.tiles[0].maxDepth, hi);
    // Same surface again: ties pass, the colour is added a second time.
    rasterize(Member::GouraudAdd, t, in);
    EXPECT_EQ(color.at(3, 3).x, 0.5f);
}

// Stencil members count the depth-fail case only; a volume face at the same z
// as a surface counts (it lies some 537 units behind).
TEST(TileRasterizer, StencilMembersCountDepthFail) {
    for (bool fast : {true, false}) {
        setRasterFastPaths(fast);
        DepthBuffer depth(32, 32);
        ColorBuffer color(32, 32);
        StencilBuffer stencil(32, 32);
        RasterInputs in;
        in.screen[0] = {0, 0, 0.5f, 1};
        in.screen[1] = {0, 32, 0.5f, 1};
        in.screen[2] = {32, 32, 0.5f, 1};
        in.color[0] = vec4(1, 1, 1, 1);
        RasterTarget t{&color, &depth, nullptr, 0, 32, nullptr};
        rasterize(Member::Flat, t, in);
        in.screen[2] = {32, 0, 0.5f, 1};
        in.screen[1] = {32, 32, 0.5f, 1};
        rasterize(Member::Flat, t, in); // whole picture at z = 0.5
        RasterTarget s{nullptr, &depth, &stencil, 0, 32, nullptr};
        RasterInputs v;
        v.screen[0] = {-8, -8, 0.5f, 1};
        v.screen[1] = {-8, 40, 0.5f, 1};
        v.screen[2] = {40, 40, 0.5f, 1};
        rasterize(Member::StencilIncrement, s, v);
        EXPECT_EQ(stencil.at(0, 20), 1);
        EXPECT_EQ(stencil.at(30, 2), 0); // outside the volume face
        rasterize(Member::StencilDecrement, s, v);
        rasterize(Member::StencilDecrement, s, v);
        EXPECT_EQ(stencil.at(0, 20), 255); // counts wrap
        // A face in front of the surface counts nothing.
        for (vec4& p : v.screen) {
            p.z = 0.2f;
        }
        stencil.clearRows(0, 32);
        rasterize(Member::StencilIncrement, s, v);
        EXPECT_EQ(stencil.at(0, 20), 0);
    }
    setRasterFastPaths(true);
}

TEST(TileRasterizer, TextureWrapAndPowApprox) {
    EXPECT_EQ(wrapTexel(1.0f, 4), 0);
    EXPECT_EQ(wrapTexel(0.0f, 4), 0);
    EXPECT_EQ(wrapTexel(-0.25f, 4), 3);
    EXPECT_EQ(wrapTexel(0.375f, 4), 2); // 1.5 rounds to even
    EXPECT_EQ(wrapTexel(0.625f, 4), 2); // 2.5 rounds to even
    EXPECT_EQ(wrapTexel(NAN, 4), 0);
    EXPECT_EQ(wrapTexel(1e30f, 4), 0);
    EXPECT_NEAR(powApprox(1.0f, 8.0f), 1.406, 0.001);
    EXPECT_NEAR(powApprox(0.5f, 8.0f), 0.00549, 0.00002);
    EXPECT_EQ(powApprox(0.0f, 8.0f), 0.0f);
    EXPECT_NEAR(powApprox(0.9f, 1.0f), 0.9f, 0.05f);
}

} // namespace
} // namespace lumo

namespace lumo {
namespace {

// A bin triangle of either winding is counted: positive y-down area increments
// (drawn reversed), the other winding decrements; rows outside the band are
// left alone.
TEST(ShadowBin, WindingChoosesIncrementOrDecrement) {
    DepthBuffer depth(32, 32);
    StencilBuffer stencil(32, 32);
    // Cleared depth is the farthest value, so a volume face is never behind it:
    // draw a surface first.
    ColorBuffer color(32, 32);
    RasterInputs surface;
    surface.screen[0] = {-8, -8, 0.5f, 1};
    surface.screen[1] = {-8, 60, 0.5f, 1};
    surface.screen[2] = {60, -8, 0.5f, 1};
    RasterTarget t{&color, &depth, nullptr, 0, 32, nullptr};
    rasterize(Member::Flat, t, surface);

    const vec4 bin[6] = {// both in the drawable order (negative y-down area)
                         {0, 0, 0.6f, 1},   {0, 16, 0.6f, 1},  {16, 0, 0.6f, 1},
                         {16, 16, 0.6f, 1}, {16, 32, 0.6f, 1}, {32, 16, 0.6f, 1}};
    float area0 = (bin[1].x - bin[0].x) * (bin[2].y - bin[0].y) -
                  (bin[2].x - bin[0].x) * (bin[1].y - bin[0].y);
    ASSERT_LT(area0, 0.0f);
    // The first reversed (positive area), the second as it is.
    const vec4 flipped[6] = {bin[0], bin[2], bin[1], bin[3], bin[4], bin[5]};
    rasterizeShadowBin(flipped, 6, 0, 32, stencil, depth);
    EXPECT_EQ(stencil.at(2, 2), 1);     // reversed order: incremented
    EXPECT_EQ(stencil.at(17, 17), 255); // drawable order: decremented (wraps)
    stencil.clearRows(0, 32);
    rasterizeShadowBin(flipped, 6, 16, 32, stencil, depth);
    EXPECT_EQ(stencil.at(2, 2), 0); // outside the band
    EXPECT_EQ(stencil.at(17, 17), 255);
}

} // namespace
} // namespace lumo
