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

// Thousands of seeded random triangles of every size, crossing band borders and
// the right and bottom edges, some with vertices on the pixel grid and on
// half-pixels (fill-rule ties), drawn in several band layouts into one buffer:
// first surfaces, then volume faces of both windings counted over them.
TEST(TileRasterizer, MatchesNaiveReferenceOnRandomTriangles) {
    constexpr int W = 136, H = 104, kSurfaces = 1200, kTriangles = 3500;
    const std::vector<std::vector<int>> layouts = {{0, 104}, {0, 8, 48, 56, 104}, {0, 40, 40, 104}};
    for (bool fast : {true, false}) {
        setRasterFastPaths(fast);
        for (size_t layout = 0; layout < layouts.size(); ++layout) {
            std::mt19937 rng(1234 + unsigned(layout));
            DepthBuffer depth(W, H);
            ColorBuffer color(W, H);
            StencilBuffer stencil(W, H);
            Reference ref(W, H);
            std::vector<uint8_t> counts(size_t(W) * H, 0);
            const std::vector<int>& bands = layouts[layout];
            std::uniform_real_distribution<float> cx(-30.0f, W + 30.0f), cy(-30.0f, H + 30.0f);
            std::uniform_real_distribution<float> z(-0.9f, 0.99f);
            std::uniform_int_distribution<int> size(0, 2);
            for (int n = 1; n <= kTriangles; ++n) {
                const float spreads[3] = {4.0f, 25.0f, 120.0f};
                const float spread = spreads[size(rng)];
                std::uniform_real_distribution<float> d(-spread, spread);
                const float x0 = cx(rng), y0 = cy(rng);
                RasterInputs in;
                vec4* v = in.screen;
                for (int k = 0; k < 3; ++k) {
                    v[k] = vec4{x0 + d(rng), y0 + d(rng), z(rng), 1.0f}; // braces: in order
                    if (n % 5 == 0) {
                        v[k].x = std::round(v[k].x * 2.0f) / 2.0f;
                        v[k].y = std::round(v[k].y * 2.0f) / 2.0f;
                    }
                }
                in.color[0] = vec4(float(n), 0, 0, 0);
                const Member member = n <= kSurfaces ? Member::Flat
                                      : (n & 1) == 0 ? Member::StencilIncrement
                                                     : Member::StencilDecrement;
                for (size_t b = 0; b + 1 < bands.size(); ++b) {
                    RasterTarget t{&color, &depth, &stencil, bands[b], bands[b + 1], nullptr};
                    rasterize(member, t, in);
                }
                if (n <= kSurfaces) {
                    ref.draw(v, n, 0, H);
                } else {
                    ref.count(v, member == Member::StencilIncrement ? 1 : 255, counts);
                }
            }
            int counted = 0;
            for (int y = 0; y < H; ++y) {
                for (int x = 0; x < W; ++x) {
                    size_t i = size_t(y) * W + x;
                    ASSERT_EQ(depth.at(x, y), ref.depth[i])
                        << x << "," << y << " layout " << layout;
                    ASSERT_EQ(int(color.at(x, y).x), ref.id[i]) << x << "," << y;
                    ASSERT_EQ(stencil.at(x, y), counts[i]) << x << "," << y;
                    counted += counts[i] != 0;
                }
            }
            EXPECT_GT(counted, W * H / 4);
            for (int t = 0; t < depth.tilesX * depth.tilesY; ++t) {
                for (int i = 0; i < 64; ++i) {
                    int32_t v = depth.values[size_t(t) * 64 + i];
                    ASSERT_TRUE(depth.tiles[t].minDepth <= v && v <= depth.tiles[t].maxDepth) << t;
                }
            }
        }
    }
    setRasterFastPaths(true);
}

TEST(TileRasterizer, ExtremeAndBrokenVertices) {
    // Depths far outside [-1, 1) clamp to the 32-bit range instead of wrapping:
    // 10 ties with the cleared value and is drawn; -10 is nearest; 1e30 is behind it.
    DepthBuffer depth(16, 16);
    ColorBuffer color(16, 16);
    RasterTarget t{&color, &depth, nullptr, 0, 16, nullptr};
    for (float z : {10.0f, -10.0f, 1e30f}) {
        RasterInputs in;
        in.screen[0] = {0, 0, z, 1};
        in.screen[1] = {0, 16, z, 1};
        in.screen[2] = {16, 0, z, 1};
        in.color[0] = vec4(z, 0, 0, 0);
        rasterize(Member::Flat, t, in);
        EXPECT_EQ(depth.at(1, 1), z == 10.0f ? INT32_MAX : INT32_MIN);
        EXPECT_EQ(color.at(1, 1).x, z == 10.0f ? 10.0f : -10.0f);
    }
    // The additive member over the same surface: equal depths pass, the colour is
    // added a second time.
    RasterInputs add;
    add.screen[0] = {-20, -20, 0.5f, 1};
    add.screen[1] = {-20, 60, 0.5f, 1};
    add.screen[2] = {60, -20, 0.6f, 1};
    for (vec4& c : add.color) {
        c = vec4(0.25f, 0, 0, 0);
    }
    RasterTarget lower{&color, &depth, nullptr, 8, 16, nullptr};
    rasterize(Member::GouraudAdd, lower, add);
    rasterize(Member::GouraudAdd, lower, add);
    EXPECT_EQ(color.at(10, 9).x, 0.5f);
    // Non-finite or far-away vertices draw nothing and do not crash.
    for (float bad : {NAN, 1e9f}) {
        RasterInputs in;
        in.screen[0] = {-bad, 0, -0.5f, 1};
        in.screen[1] = {0, bad, -0.5f, 1};
        in.screen[2] = {bad, bad, -0.5f, 1};
        in.color[0] = vec4(1, 1, 1, 1);
        rasterize(Member::Flat, t, in);
        EXPECT_EQ(color.at(15, 7).x, 0.0f);
    }
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

// A bin triangle of either winding is counted: positive y-down area increments
// (drawn reversed), the other winding decrements, and counts wrap. A volume face at the same z as
// the surface counts (it lies some 537 units behind).
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

    // The first reversed (positive area), the second in the drawable order.
    const vec4 flipped[6] = {{0, 0, 0.5f, 1},   {16, 0, 0.5f, 1},  {0, 16, 0.5f, 1},
                             {16, 16, 0.5f, 1}, {16, 32, 0.5f, 1}, {32, 16, 0.5f, 1}};
    rasterizeShadowBin(flipped, 6, 0, 32, stencil, depth);
    EXPECT_EQ(stencil.at(2, 2), 1);     // reversed order: incremented
    EXPECT_EQ(stencil.at(17, 17), 255); // drawable order: decremented (wraps)
}

} // namespace
} // namespace lumo
