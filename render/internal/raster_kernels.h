#pragma once
// The tile rasterizer's code, written once against the 8-lane operations of
// lanes.h and compiled once per vector path: raster.cpp includes it for the
// 4-lane path, raster_avx2.cpp inside an AVX2 target region. Everything here has
// internal linkage, so each path's copy stays its own (no copy compiled for
// AVX2 can stand in for a baseline one). For the same reason this header may
// only include headers that raster_avx2.cpp includes before its target pragma.

#include "assets/texture.h"
#include "math/vec.h"
#include "render/fixed.h"
#include "render/internal/lanes.h"
#include "render/internal/raster.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <emmintrin.h>
#include <iterator>

namespace lumo {

namespace {

constexpr bool isStencilMember(Member m) {
    return m == Member::StencilIncrement || m == Member::StencilDecrement;
}

// Number of vec4 attribute planes a member interpolates.
constexpr int planeCount(Member m) {
    switch (m) {
    case Member::Gouraud:
    case Member::GouraudAdd:
    case Member::GouraudAddMasked:
    case Member::LitOneMasked: // (1/z, b1/z, b2/z)
    case Member::Textured:     // (1/z, u/z, v/z)
        return 1;
    case Member::LitAll: // position, normal
        return 2;
    default:
        return 0;
    }
}

// Attribute plane over the triangle, in the same form as the depth plane.
struct AttributePlane {
    vec4 origin; // value at vertex a
    vec4 dx, dy;
};

struct PlaneSetup {
    float ax, ay, ux, uy, vx, vy, area;

    // dV/dx = -(uy (V2 - V0) - vy (V1 - V0)) / area and
    // dV/dy = -(vx (V1 - V0) - ux (V2 - V0)) / area, four components at once
    // (each lane rounds exactly as the scalar expression would).
    AttributePlane plane(const vec4& v0, const vec4& v1, const vec4& v2) const {
        const __m128 a = _mm_load_ps(&v0.x);
        const __m128 d1 = _mm_sub_ps(_mm_load_ps(&v1.x), a);
        const __m128 d2 = _mm_sub_ps(_mm_load_ps(&v2.x), a);
        const __m128 sign = _mm_set1_ps(-0.0f);
        const __m128 divisor = _mm_set1_ps(area);
        __m128 dx = _mm_sub_ps(_mm_mul_ps(_mm_set1_ps(uy), d2), _mm_mul_ps(_mm_set1_ps(vy), d1));
        __m128 dy = _mm_sub_ps(_mm_mul_ps(_mm_set1_ps(vx), d1), _mm_mul_ps(_mm_set1_ps(ux), d2));
        dx = _mm_div_ps(_mm_xor_ps(dx, sign), divisor);
        dy = _mm_div_ps(_mm_xor_ps(dy, sign), divisor);
        AttributePlane p;
        p.origin = v0;
        _mm_store_ps(&p.dx.x, dx);
        _mm_store_ps(&p.dy.x, dy);
        return p;
    }

    // Value at pixel (tx, ty): (tx - xa) * dV/dx + V0 + (ty - ya) * dV/dy.
    vec4 at(const AttributePlane& p, int tx, int ty) const {
        float fx = float(tx) - ax;
        float fy = float(ty) - ay;
        return p.dx * fx + p.origin + p.dy * fy;
    }
};

vec4 splat(float v) {
    return {v, v, v, v};
}

// wrapTexel and lightVertexAll (raster.h), here so that every path's copy of
// the per-pixel loops inlines them instead of calling across.
inline int wrapTexelIndex(float c, int n) {
    // Nearest (ties to even, the default rounding mode) then modulo n, made
    // non-negative. Values beyond 2^30 or not finite sample index 0.
    const float scaled = c * float(n);
    if (!(std::fabs(scaled) < 1073741824.0f)) {
        return 0;
    }
    const int i = _mm_cvtss_si32(_mm_set_ss(scaled));
    if (unsigned(i) < unsigned(n)) {
        return i; // the usual case, without a division
    }
    const int r = i % n;
    return r < 0 ? r + n : r;
}

inline LightResult sumLights(Light* const* lights, int lightCount, const vec4& p, const vec4& n,
                             float shininess) {
    LightResult sum;
    for (int i = 0; i < lightCount; ++i) {
        LightResult r = lightVertex(*lights[i], p, n, shininess);
        sum.diffuse += r.diffuse;
        sum.specular += r.specular;
    }
    return sum;
}

struct Edge {
    int32_t a, b;   // per-pixel steps right and down
    int64_t origin; // e at the triangle's origin pixel
    int32_t reject; // tile outside when e < reject
    int32_t accept; // tile fully covered (by this edge) when e >= accept
};

template <Member M>
struct PixelContext {
    const RasterInputs& in;

    // The member's colour operation for a pixel that passed coverage and depth.
    // stencilCount is the pixel's count (0 without a stencil buffer).
    inline void shade(vec4& px, const vec4* v, uint8_t stencilCount) const {
        if constexpr (M == Member::Gouraud) {
            px = v[0];
        } else if constexpr (M == Member::GouraudAdd) {
            px += v[0];
        } else if constexpr (M == Member::GouraudAddMasked) {
            if (stencilCount == 0) {
                px += v[0];
            }
        } else if constexpr (M == Member::LitAll) {
            vec4 n = normalize(v[1]);
            LightResult r = sumLights(in.lights, in.lightCount, v[0], n, in.shininess);
            px = r.diffuse * in.ambient + r.specular + splat(in.ambient / 4.0f);
        } else if constexpr (M == Member::LitOneMasked) {
            if (stencilCount != 0) {
                return;
            }
            float b1 = v[0].y / v[0].x;
            float b2 = v[0].z / v[0].x;
            float b0 = 1.0f - b1 - b2;
            vec4 p = in.position[0] * b0 + in.position[1] * b1 + in.position[2] * b2;
            vec4 n = normalize(in.normal[0] * b0 + in.normal[1] * b1 + in.normal[2] * b2);
            const Light& light = *in.light;
            vec4 l = light.viewPos - p;
            float d = std::sqrt(dot(l, l));
            vec4 lHat = divide(l, d);
            float d2 = d * d;
            float k = clamp01(dot(lHat, n));
            float f = light.diffuse * k / d2;
            float g = 0.0f;
            if (light.specular > 0.0f) {
                vec4 vHat = normalize(vec4(0.0f, 0.0f, 0.0f, 1.0f) - p);
                vec4 hHat = normalize(vHat + lHat);
                g = powApprox(clamp01(dot(hHat, n)), in.shininess) * light.specular / d2;
            }
            px.x += in.diffuse.x * f + g;
            px.y += in.diffuse.y * f + g;
            px.z += in.diffuse.z * f + g;
        }
        // Flat rows are filled in drawTile, Textured tiles a column at a time
        // (texturedColumns).
    }
};

// wrapTexelIndex over 8 lanes: the same index in every lane. The
// coordinates of a face mostly stay inside the texture, where no lane needs
// the remainder.
template <class L>
inline typename L::I32 wrapTexelLanes(const typename L::F32& c, int n) {
    const auto scaled = L::mul(c, L::splatF(float(n)));
    auto i = L::select(L::magnitudeBelow(scaled, 1073741824.0f), L::nearest(scaled), L::splat(0));
    if (L::withinBits(i, n) != 0xFFu) {
        alignas(32) int32_t lanes[8];
        L::store(lanes, i);
        for (int32_t& lane : lanes) {
            const int32_t r = lane % n;
            lane = r < 0 ? r + n : r;
        }
        i = L::load(lanes);
    }
    return i;
}

// The Textured member's colours of a tile, a column of its 8 rows at a time:
// lane j starts at row j's first value and steps along the row by adding dx,
// the very additions a row at a time would make, so every pixel gets the same
// texel. A column costs one division per coordinate for all its rows, and the
// texels of its rows are unpacked together.
// Scratch arrays are plain floats: an array of vec4 would be zeroed first,
// which cost as much as the work here.
template <class L>
inline void texturedColumns(const float* rowStart, const vec4& dx, uint64_t shade,
                            const TextureImage& texture, const uint32_t* packed, vec4* tile,
                            size_t stride) {
    typename L::F32 w, u, v;
    L::transpose(rowStart, w, u, v);
    const typename L::F32 dw = L::splatF(dx.x), du = L::splatF(dx.y), dv = L::splatF(dx.z);
    constexpr uint64_t kColumn = 0x0101010101010101ull;
    for (int i = 0; i < 8; ++i) {
        // Bit j: pixel i of row j is drawn.
        const uint64_t bits = (shade >> i) & kColumn;
        if (bits) {
            const unsigned column = unsigned((bits * 0x0102040810204080ull) >> 56);
            const auto sLanes = wrapTexelLanes<L>(L::div(u, w), texture.width);
            const auto rLanes = wrapTexelLanes<L>(L::div(v, w), texture.height);
            alignas(32) int32_t s[8], r[8];
            L::store(s, sLanes);
            L::store(r, rLanes);
            auto texel = [&](int j) {
                return size_t(texture.height - 1 - r[j]) * texture.width + s[j];
            };
            vec4* const pixel = tile + i;
            if (packed) {
                // Every lane's texel lies inside the texture.
                alignas(32) uint32_t t[8];
                if constexpr (requires { L::gatherTexels(packed, sLanes, rLanes, 0, 0, t); }) {
                    L::gatherTexels(packed, sLanes, rLanes, texture.width, texture.height, t);
                } else {
                    for (int j = 0; j < 8; ++j) {
                        t[j] = packed[texel(j)];
                    }
                }
                alignas(32) float colour[32];
                L::unpackTexels(t, colour);
                auto put = [&](int j) {
                    std::memcpy(static_cast<void*>(&pixel[size_t(j) * stride]), &colour[4 * j],
                                sizeof(vec4));
                };
                if (column == 0xFFu) {
                    for (int j = 0; j < 8; ++j) {
                        put(j);
                    }
                } else {
                    for (unsigned m = column; m; m &= m - 1) {
                        put(__builtin_ctz(m));
                    }
                }
            } else {
                for (unsigned m = column; m; m &= m - 1) {
                    const int j = __builtin_ctz(m);
                    pixel[size_t(j) * stride] = texture.texels[texel(j)];
                }
            }
        }
        w = L::addF(w, dw);
        u = L::addF(u, du);
        v = L::addF(v, dv);
    }
}

// The running values of a tile's eight-pixel rows, for a tile whose depths fit
// in 32 bits (offsets i * zx are exact modulo 2^32 there): each pixel's depth
// and its three edge values, a row of lanes each, stepped a row at a time.
// Kept in named members, not arrays indexed in loops, so that the compiler
// keeps every one of them in registers.
template <class L>
struct TileLanes {
    using I32 = typename L::I32;
    I32 z, zStep;
    I32 e0, e1, e2;
    I32 step0, step1, step2;
    I32 low, high; // the triangle's corner depths

    TileLanes(const int32_t eRow[3], int64_t zRow, int64_t zx, int64_t zy, const Edge edges[3],
              const I32 edgeRamp[3], int32_t zLow, int32_t zHigh)
        : z(L::add(L::splat(int32_t(zRow)), L::ramp(int32_t(zx)))), zStep(L::splat(int32_t(zy))),
          e0(L::add(L::splat(eRow[0]), edgeRamp[0])), e1(L::add(L::splat(eRow[1]), edgeRamp[1])),
          e2(L::add(L::splat(eRow[2]), edgeRamp[2])), step0(L::splat(edges[0].b)),
          step1(L::splat(edges[1].b)), step2(L::splat(edges[2].b)), low(L::splat(zLow)),
          high(L::splat(zHigh)) {}

    // The row's pixel depths; kClamp when some may leave the corners' range.
    template <bool kClamp>
    I32 depth() const {
        return kClamp ? L::max(L::min(z, high), low) : z;
    }

    // Lanes with a negative edge value (the sign bit set): the pixels outside.
    I32 outside() const { return L::bitOr(L::bitOr(e0, e1), e2); }

    void nextDepthRow() { z = L::add(z, zStep); }
    void nextEdgeRow() {
        e0 = L::add(e0, step0);
        e1 = L::add(e1, step1);
        e2 = L::add(e2, step2);
    }
};

// Depth-fail counting of the 64 pixels of one tile whose depths fit in 32 bits:
// kFull, every pixel is covered; kBehind, every pixel fails the depth test.
// Returns the pixels counted.
template <class L, Member M, bool kFull, bool kBehind, bool kClamp>
__attribute__((always_inline)) inline uint64_t countRows(const int32_t* dv, uint8_t* sv,
                                                         TileLanes<L> lanes) {
    using I32 = typename L::I32;
    const I32 allSet = L::splat(-1);

    // The counted pixels of row j (lanes of 0 or -1).
    auto row = [&](int j) __attribute__((always_inline)) {
        I32 counted = allSet;
        if constexpr (!kBehind) {
            counted = L::greater(lanes.template depth<kClamp>(), L::load(dv + 8 * j));
            lanes.nextDepthRow();
        }
        if constexpr (!kFull) {
            counted = L::bitAnd(counted, L::greater(lanes.outside(), allSet));
            lanes.nextEdgeRow();
        }
        return counted;
    };
    auto tally = L::zeroBytes(); // per byte: pixels counted so far
    for (int j = 0; j < 8; j += 4) {
        const I32 r0 = row(j), r1 = row(j + 1), r2 = row(j + 2), r3 = row(j + 3);
        // 32 bytes of 0 or -1: the counted pixels of four rows.
        const auto counted = L::packRows(r0, r1, r2, r3);
        const auto values = L::loadBytes(sv + 8 * j);
        L::storeBytes(sv + 8 * j, M == Member::StencilIncrement ? L::subBytes(values, counted)
                                                                : L::addBytes(values, counted));
        tally = L::subBytes(tally, counted);
    }
    return L::sumBytes(tally);
}

// The pixels of a tile whose depths fit in 32 bits that are covered (every
// pixel when full) and pass the depth test (z <= stored), a byte per row: bit
// i of byte j is pixel i of row j.
template <class L, bool kClamp>
__attribute__((always_inline)) inline uint64_t tileMask(const int32_t* dv, bool full,
                                                        TileLanes<L> lanes) {
    // A full tile needs no edge test: an all-zero sign mask passes every pixel.
    const auto edgeUse = L::splat(full ? 0 : -1);
    uint64_t bits = 0;
#pragma GCC unroll 8
    for (int j = 0; j < 8; ++j) {
        // A pixel is dropped when an edge value is negative or it fails the depth test.
        const auto out = L::bitOr(L::bitAnd(lanes.outside(), edgeUse),
                                  L::greater(lanes.template depth<kClamp>(), L::load(dv + 8 * j)));
        bits |= uint64_t(~L::signBits(out) & 0xFFu) << (8 * j);
        lanes.nextDepthRow();
        lanes.nextEdgeRow();
    }
    return bits;
}

// The same for a tile whose depths leave 32 bits (slivers with huge slopes):
// each pixel's depth from the 64-bit plane, clamped by depthAt.
template <class RowMask, class DepthAt>
inline uint64_t tileMaskWide(const int32_t* dv, const int32_t eRow[3], bool full, int64_t zRow,
                             int64_t zx, int64_t zy, const Edge edges[3], const RowMask& rowMask,
                             const DepthAt& depthAt) {
    int32_t e[3] = {eRow[0], eRow[1], eRow[2]};
    uint64_t bits = 0;
    for (int j = 0; j < 8; ++j) {
        const unsigned mask = full ? 0xFFu : rowMask(e);
        unsigned pass = 0;
        for (unsigned m = mask; m; m &= m - 1) {
            const int i = __builtin_ctz(m);
            pass |= unsigned(dv[j * 8 + i] >= depthAt(zRow + i * zx)) << i;
        }
        bits |= uint64_t(pass) << (8 * j);
        for (int k = 0; k < 3; ++k) {
            e[k] += edges[k].b;
        }
        zRow += zy;
    }
    return bits;
}

// Step 1, once per triangle: everything the tile walk and the tile drawing
// need, or the answer that the triangle draws nothing in this band.
//
// Names: (X, Y) the corners snapped to 28.4; (ox, oy) the triangle's origin,
// its first tile column and first tile row of the whole picture, where every
// band starts its stepping (so any band layout gives the same bytes); per edge
// k the integer edge function e = origin + (x - ox) a + (y - oy) b, inside
// where e >= 0; (zx, zy) the integer depth steps and zOrigin the depth at the
// origin; planes the member's float attribute planes.
template <class L, Member M>
struct TriangleSetup {
    static constexpr bool kStencil = isStencilMember(M);
    static constexpr int kPlanes = planeCount(M);

    const RasterInputs& in;
    DepthBuffer* depth = nullptr;
    int tilesX = 0;
    uint8_t* stencil = nullptr;
    vec4* colorPixels = nullptr;
    int colorWidth = 0;
    const TextureImage* texture = nullptr;
    const uint32_t* packed = nullptr; // the texture's packed texels, when it has them
    bool fast = true;

    PlaneSetup ps;
    Edge edges[3];
    int ox = 0, oy = 0;
    int tileCol0 = 0, colEnd = 0, rowFirst = 0, rowLast = 0;
    int64_t zx = 0, zy = 0, zOrigin = 0;
    // The corners' depths widened by the slack (render/fixed.h): a pixel's
    // depth never leaves this range, however steep a sliver's plane.
    int32_t zLow = 0, zHigh = 0;
    AttributePlane planes[kPlanes > 0 ? kPlanes : 1];
    // Edge values of the 8 pixels of a tile row, relative to its first: i * a.
    typename L::I32 edgeRamp[3];

    explicit TriangleSetup(const RasterInputs& inputs) : in(inputs) {}

    // False when nothing of the triangle is drawn into this band: missing or
    // mismatched targets, a vertex outside the guard band or not finite, a
    // float area that is not negative, or no tile of the band touched.
    bool build(const RasterTarget& target);

    int32_t depthAt(int64_t z) const { return std::clamp(fixed::clampDepth(z), zLow, zHigh); }

    // Coverage of the 8 pixels of a tile row whose first pixel has edge values
    // e: bit i set when no edge value of pixel i is negative.
    unsigned rowMask(const int32_t e[3]) const {
        auto outside = L::add(L::splat(e[0]), edgeRamp[0]);
        for (int k = 1; k < 3; ++k) {
            outside = L::bitOr(outside, L::add(L::splat(e[k]), edgeRamp[k]));
        }
        return ~L::signBits(outside) & 0xFFu;
    }
};

template <class L, Member M>
bool TriangleSetup<L, M>::build(const RasterTarget& target) {
    using fixed::ceil16;

    if (!target.depth) {
        return false;
    }
    depth = target.depth;
    tilesX = depth->tilesX;
    const int limitX = tilesX * 8;
    const int limitY = depth->tilesY * 8;
    const RowRange band = tileRows(target.rowBegin, target.rowEnd, depth->tilesY);
    if (band.begin >= band.end) {
        return false;
    }
    if (target.stencil && target.stencil->tilesX == tilesX &&
        target.stencil->tilesY == depth->tilesY) {
        stencil = target.stencil->data.data();
    }
    if constexpr (kStencil) {
        if (!stencil) {
            return false;
        }
    } else {
        if (!target.color || target.color->width < limitX || target.color->height < band.end) {
            return false;
        }
        colorPixels = target.color->pixels;
        colorWidth = target.color->width;
    }
    if constexpr (M == Member::Textured) {
        texture = in.texture;
        if (!texture || texture->width <= 0 || texture->height <= 0 ||
            texture->texels.size() < size_t(texture->width) * size_t(texture->height)) {
            return false;
        }
        // Texel indices are 32-bit lanes.
        if (texture->packed.size() == texture->texels.size() &&
            texture->packed.size() <= size_t(INT32_MAX)) {
            packed = texture->packed.data();
        }
    }
    if constexpr (M == Member::LitOneMasked) {
        if (!in.light) {
            return false;
        }
    }

    const vec4& va = in.screen[0];
    const vec4& vb = in.screen[1];
    const vec4& vc = in.screen[2];
    constexpr float kGuard = float(fixed::kGuardPixels);
    for (const vec4* v : {&va, &vb, &vc}) {
        if (!(v->x >= -kGuard && v->x <= float(limitX) + kGuard && v->y >= -kGuard &&
              v->y <= float(limitY) + kGuard && std::isfinite(v->z))) {
            return false;
        }
    }

    // The float area is the planes' denominator: zero or positive draws nothing.
    ps.ax = va.x;
    ps.ay = va.y;
    ps.ux = vb.x - va.x;
    ps.uy = vb.y - va.y;
    ps.vx = vc.x - va.x;
    ps.vy = vc.y - va.y;
    ps.area = ps.ux * ps.vy - ps.vx * ps.uy;
    if (!(ps.area < 0.0f)) {
        return false;
    }

    const int32_t X[3] = {fixed::snap(va.x), fixed::snap(vb.x), fixed::snap(vc.x)};
    const int32_t Y[3] = {fixed::snap(va.y), fixed::snap(vb.y), fixed::snap(vc.y)};
    const int32_t minX = std::min({X[0], X[1], X[2]});
    const int32_t maxX = std::max({X[0], X[1], X[2]});
    const int32_t minY = std::min({Y[0], Y[1], Y[2]});
    const int32_t maxY = std::max({Y[0], Y[1], Y[2]});

    const int firstCol = minX + 15 < 16 ? 0 : ceil16(minX);
    tileCol0 = firstCol & ~7;
    colEnd = std::min(ceil16(maxX), limitX);
    rowFirst = std::max(band.begin, ceil16(minY));
    rowLast = std::min(ceil16(maxY), band.end);
    if (rowLast < rowFirst || tileCol0 >= colEnd) {
        return false;
    }
    // The triangle's own origin: what a single band covering the picture starts at.
    ox = tileCol0;
    oy = std::max(0, ceil16(minY)) & ~7;

    for (int k = 0; k < 3; ++k) {
        int p = k;
        int q = k == 2 ? 0 : k + 1;
        Edge& e = edges[k];
        e.a = Y[q] - Y[p];
        e.b = X[p] - X[q];
        int64_t E = (int64_t(16) * oy - Y[p]) * e.b + (int64_t(16) * ox - X[p]) * e.a +
                    fixed::edgeBias(e.a, e.b);
        e.origin = (E - 1) >> 4;
        e.reject = -8 * std::max(e.a, 0) - 8 * std::max(e.b, 0);
        e.accept = -8 * std::min(e.a, 0) - 8 * std::min(e.b, 0);
    }

    // Integer depth plane.
    int32_t Z[3];
    for (int k = 0; k < 3; ++k) {
        Z[k] = kStencil ? fixed::stencilDepth(in.screen[k].z) : fixed::shadingDepth(in.screen[k].z);
    }
    zLow = fixed::clampDepth(int64_t(std::min({Z[0], Z[1], Z[2]})) - fixed::kDepthSlack);
    zHigh = fixed::clampDepth(int64_t(std::max({Z[0], Z[1], Z[2]})) + fixed::kDepthSlack);
    const float dZ1 = float(int64_t(Z[1]) - Z[0]);
    const float dZ2 = float(int64_t(Z[2]) - Z[0]);
    const float dZdx = -(ps.uy * dZ2 - ps.vy * dZ1) / ps.area;
    const float dZdy = -(ps.vx * dZ1 - ps.ux * dZ2) / ps.area;
    zx = fixed::truncClamp(dZdx);
    zy = fixed::truncClamp(dZdy);
    zOrigin =
        fixed::truncPlane((float(ox) - ps.ax) * dZdx + float(Z[0]) + (float(oy) - ps.ay) * dZdy);

    if constexpr (M == Member::Gouraud || M == Member::GouraudAdd ||
                  M == Member::GouraudAddMasked) {
        planes[0] = ps.plane(in.color[0], in.color[1], in.color[2]);
    } else if constexpr (M == Member::LitAll) {
        planes[0] = ps.plane(in.position[0], in.position[1], in.position[2]);
        planes[1] = ps.plane(in.normal[0], in.normal[1], in.normal[2]);
    } else if constexpr (M == Member::LitOneMasked) {
        float w0 = 1.0f / in.position[0].z, w1 = 1.0f / in.position[1].z,
              w2 = 1.0f / in.position[2].z;
        planes[0] = ps.plane({w0, 0.0f, 0.0f, 0.0f}, {w1, w1, 0.0f, 0.0f}, {w2, 0.0f, w2, 0.0f});
    } else if constexpr (M == Member::Textured) {
        auto perspective = [&](int k) {
            float z = in.position[k].z;
            return vec4(1.0f / z, in.texcoord[k].x / z, in.texcoord[k].y / z, 0.0f);
        };
        planes[0] = ps.plane(perspective(0), perspective(1), perspective(2));
    }

    for (int k = 0; k < 3; ++k) {
        edgeRamp[k] = L::ramp(edges[k].a);
    }
    fast = rasterFastPaths();
    return true;
}

// Step 3, per tile the walk did not reject: the tile at (tx, ty) with its
// corner's edge values e, fully covered when full. Returns the pixels drawn
// (shading members) or counted (stencil members).
template <class L, Member M>
__attribute__((always_inline)) inline uint64_t drawTile(const TriangleSetup<L, M>& s, int tx,
                                                        int ty, const int32_t e[3], bool full) {
    using I32 = typename L::I32;
    constexpr int kPlanes = TriangleSetup<L, M>::kPlanes;

    const int64_t zx = s.zx, zy = s.zy;
    const int tileIndex = (ty >> 3) * s.tilesX + (tx >> 3);
    DepthTile& tile = s.depth->tiles[tileIndex];
    int32_t* dv = s.depth->values.data() + size_t(tileIndex) * 64;
    uint8_t* sv = s.stencil ? s.stencil + size_t(tileIndex) * 64 : nullptr;
    const int64_t zTile = s.zOrigin + (tx - s.ox) * zx + (ty - s.oy) * zy;
    const int64_t z70 = zTile + 7 * zx;
    const int64_t z07 = zTile + 7 * zy;
    const int64_t z77 = z70 + 7 * zy;
    const int64_t cornerMin = std::min({zTile, z70, z07, z77});
    const int64_t cornerMax = std::max({zTile, z70, z07, z77});
    const int32_t faceMin = s.depthAt(cornerMin);
    const int32_t faceMax = s.depthAt(cornerMax);
    // The tile's depths fit in 32 bits (always, short of slivers): the
    // register paths apply, with offsets exact modulo 2^32.
    const bool depth32 = cornerMin >= INT32_MIN && cornerMax <= INT32_MAX;
    // Only tiles reaching beyond the corners' depths pay for the clamp.
    const bool clamp = cornerMin < s.zLow || cornerMax > s.zHigh;
    int32_t eRow[3] = {e[0], e[1], e[2]};
    int64_t zRow = zTile;
    auto lanes = [&] {
        return TileLanes<L>(eRow, zRow, zx, zy, s.edges, s.edgeRamp, s.zLow, s.zHigh);
    };
    uint64_t passed = 0;

    if constexpr (TriangleSetup<L, M>::kStencil) {
        constexpr uint8_t kStep = M == Member::StencilIncrement ? 1 : 255;
        if (s.fast) {
            if (faceMax < tile.minDepth) {
                return 0; // nearer than everything stored: no pixel fails the depth test
            }
            if (full && faceMin > tile.maxDepth) {
                // Behind everything stored: every pixel is counted.
                for (int i = 0; i < 64; ++i) {
                    sv[i] = uint8_t(sv[i] + kStep);
                }
                return 64;
            }
        }
        if (depth32) {
            // Four rows (32 stencil bytes) at a time, branch-free, with the same
            // comparisons as the scalar loop below. A face behind everything
            // stored in the tile fails the depth test at every pixel, so only
            // coverage decides there (thin volume faces converging behind a
            // surface are mostly that).
            const bool behind = s.fast && faceMin > tile.maxDepth;
            if (full) {
                return clamp ? countRows<L, M, true, false, true>(dv, sv, lanes())
                             : countRows<L, M, true, false, false>(dv, sv, lanes());
            }
            if (behind) {
                return countRows<L, M, false, true, false>(dv, sv, lanes());
            }
            return clamp ? countRows<L, M, false, false, true>(dv, sv, lanes())
                         : countRows<L, M, false, false, false>(dv, sv, lanes());
        }
        for (int j = 0; j < 8; ++j) {
            unsigned mask = full ? 0xFFu : s.rowMask(eRow);
            while (mask) {
                int i = __builtin_ctz(mask);
                mask &= mask - 1;
                int idx = j * 8 + i;
                if (dv[idx] < s.depthAt(zRow + i * zx)) {
                    sv[idx] = uint8_t(sv[idx] + kStep);
                    ++passed;
                }
            }
            for (int k = 0; k < 3; ++k) {
                eRow[k] += s.edges[k].b;
            }
            zRow += zy;
        }
        return passed;
    } else {
        if (s.fast && faceMin > tile.maxDepth) {
            return 0; // hidden behind everything stored in the tile
        }
        const bool fill = s.fast && full && faceMax < tile.minDepth;
        // The pixels to shade, a byte per row: covered and passing the depth
        // test. A tile the corner test let through may well have none (small
        // faces touch several tiles with a pixel or two each).
        auto rowMask = [&](const int32_t re[3]) { return s.rowMask(re); };
        auto depthAt = [&](int64_t z) { return s.depthAt(z); };
        const uint64_t shade =
            fill      ? ~uint64_t(0)
            : depth32 ? (clamp ? tileMask<L, true>(dv, full, lanes())
                               : tileMask<L, false>(dv, full, lanes()))
                      : tileMaskWide(dv, eRow, full, zRow, zx, zy, s.edges, rowMask, depthAt);
        if (shade == 0) {
            return 0;
        }
        passed = uint64_t(__builtin_popcountll(shade));
        vec4* row = s.colorPixels + size_t(ty) * s.colorWidth + tx;
        // The colour rows of a tile are 8 separate 128-byte runs: ask for
        // all the needed ones at once instead of missing on each in turn.
        for (int j = 0; j < 8; ++j) {
            if ((shade >> (8 * j)) & 0xFFu) {
                __builtin_prefetch(row + size_t(j) * s.colorWidth, 1);
                __builtin_prefetch(row + size_t(j) * s.colorWidth + 4, 1);
            }
        }
        const PixelContext<M> context{s.in};
        vec4 attrRow[kPlanes > 0 ? kPlanes : 1];
        for (int k = 0; k < kPlanes; ++k) {
            attrRow[k] = s.ps.at(s.planes[k], tx, ty);
        }
        alignas(32) float rowStart[M == Member::Textured ? 32 : 1];
        vec4* const tileColor = row;
        // Depths are written a row of lanes at a time where they fit in 32
        // bits; the nearest written one is kept per lane.
        const I32 zRamp = L::ramp(int32_t(zx));
        const I32 low = L::splat(s.zLow), high = L::splat(s.zHigh);
        const I32 farthest = L::splat(INT32_MAX);
        I32 nearest = L::splat(tile.minDepth);
        int32_t tileMin = tile.minDepth;
        for (int j = 0; j < 8; ++j, row += s.colorWidth) {
            const unsigned mask = unsigned(shade >> (8 * j)) & 0xFFu;
            if (mask) {
                if (depth32) {
                    I32 z = L::add(L::splat(int32_t(zRow)), zRamp);
                    if (clamp) {
                        z = L::max(L::min(z, high), low);
                    }
                    if (mask == 0xFFu) {
                        // A whole row needs none of the old depths: no load
                        // to wait for where the tile was not read before.
                        L::store(dv + 8 * j, z);
                        nearest = L::min(nearest, z);
                    } else {
                        const I32 written = L::fromBits(mask);
                        L::store(dv + 8 * j, L::select(written, z, L::load(dv + 8 * j)));
                        nearest = L::min(nearest, L::select(written, z, farthest));
                    }
                } else {
                    for (unsigned m = mask; m; m &= m - 1) {
                        const int i = __builtin_ctz(m);
                        const int32_t zc = s.depthAt(zRow + i * zx);
                        dv[j * 8 + i] = zc;
                        tileMin = std::min(tileMin, zc);
                    }
                }
                const uint8_t* counts = sv ? sv + j * 8 : nullptr;
                if constexpr (M == Member::Flat) {
                    if (mask == 0xFFu) {
                        // One colour over a whole row: stores the compiler can widen.
                        const vec4 c = s.in.color[0];
                        for (int i = 0; i < 8; ++i) {
                            row[i] = c;
                        }
                    } else {
                        for (unsigned m = mask; m; m &= m - 1) {
                            row[__builtin_ctz(m)] = s.in.color[0];
                        }
                    }
                } else if constexpr (M == Member::Textured) {
                    // Coloured a column at a time once the rows' starts are known.
                } else {
                    // Attributes step by addition from the row start; only the
                    // covered pixels that passed the depth test are shaded.
                    vec4 attr[kPlanes];
                    for (int k = 0; k < kPlanes; ++k) {
                        attr[k] = attrRow[k];
                    }
                    const int last = 31 - __builtin_clz(mask);
                    for (int i = 0; i <= last; ++i) {
                        if ((mask >> i) & 1u) {
                            context.shade(row[i], attr, counts ? counts[i] : uint8_t(0));
                        }
                        for (int k = 0; k < kPlanes; ++k) {
                            attr[k] += s.planes[k].dx;
                        }
                    }
                }
            }
            zRow += zy;
            if constexpr (M == Member::Textured) {
                std::memcpy(&rowStart[4 * j], &attrRow[0], sizeof(vec4));
            }
            for (int k = 0; k < kPlanes; ++k) {
                attrRow[k] += s.planes[k].dy;
            }
        }
        if constexpr (M == Member::Textured) {
            // The packed texels: a quarter of the memory traffic of the floats.
            texturedColumns<L>(rowStart, s.planes[0].dx, shade, *s.texture, s.packed, tileColor,
                               size_t(s.colorWidth));
        }
        if (fill) {
            // In front of everything stored: the tile now holds exactly the face.
            tile.minDepth = faceMin;
            tile.maxDepth = faceMax;
        } else {
            tile.minDepth = std::min(tileMin, L::minOf(nearest));
            tile.maxDepth = L::maxOf64(dv);
        }
        return passed;
    }
}

// floor(n / d) for d > 0.
inline int64_t floorDiv(int64_t n, int64_t d) {
    return n >= 0 ? n / d : -((-n + d - 1) / d);
}

// Narrows the tiles [lo, hi] of a row to those whose edge value, e0 at tile 0
// and growing by step a tile, is at least threshold: a half-line of tiles.
inline void keepAtLeast(int64_t e0, int64_t step, int64_t threshold, int& lo, int& hi) {
    const int64_t need = threshold - e0; // t * step >= need
    if (step > 0) {
        lo = int(std::max<int64_t>(lo, std::min<int64_t>(-floorDiv(-need, step), hi + 1)));
    } else if (step < 0) {
        hi = int(std::min<int64_t>(hi, std::max<int64_t>(floorDiv(-need, -step), lo - 1)));
    } else if (need > 0) {
        hi = lo - 1;
    }
}

// Step 2, the walk over the band's tile rows: in each row the run of tiles
// that no edge rejects (a tile is outside an edge when its corner's edge
// value e is below the edge's reject limit), found from the edge equations:
// each edge keeps a half-line of a row's tiles, so it is a run. A walk from
// tile to tile would test the tiles outside too, many of them along a long
// slanted edge. A tile of the run is fully covered when every e is at least
// the edge's accept limit. Tiles are drawn independently, so their order
// does not matter. Returns the pixels drawn or counted.
//
// Most tiles of a large shadow-volume face lie wholly in front of or behind
// what the tile holds; for the fully covered ones that is settled here, from
// the plane's nearest and farthest corners (fixed corners for a plane),
// before anything else of the tile is worked out, as drawTile would.
template <class L, Member M>
__attribute__((always_inline)) inline uint64_t walkTileRuns(const TriangleSetup<L, M>& s) {
    constexpr uint8_t kStep = M == Member::StencilIncrement ? 1 : 255;
    uint64_t passed = 0;
    const int tiles = (s.colEnd - s.tileCol0 + 7) >> 3;
    const int64_t nearOffset = 7 * std::min<int64_t>(s.zx, 0) + 7 * std::min<int64_t>(s.zy, 0);
    const int64_t farOffset = 7 * std::max<int64_t>(s.zx, 0) + 7 * std::max<int64_t>(s.zy, 0);
    for (int ty = s.rowFirst & ~7; ty < s.rowLast; ty += 8) {
        int64_t e0[3], step[3];
        int lo = 0, hi = tiles - 1;
        for (int k = 0; k < 3; ++k) {
            const Edge& edge = s.edges[k];
            e0[k] = edge.origin + int64_t(s.tileCol0 - s.ox) * edge.a + int64_t(ty - s.oy) * edge.b;
            step[k] = 8 * int64_t(edge.a);
            keepAtLeast(e0[k], step[k], edge.reject, lo, hi);
        }
        const int firstTile = (ty >> 3) * s.tilesX + (s.tileCol0 >> 3);
        const int64_t zRow = s.zOrigin + int64_t(s.tileCol0 - s.ox) * s.zx + (ty - s.oy) * s.zy;
        for (int t = lo; t <= hi; ++t) {
            const int32_t e[3] = {int32_t(e0[0] + t * step[0]), int32_t(e0[1] + t * step[1]),
                                  int32_t(e0[2] + t * step[2])};
            const bool full =
                e[0] >= s.edges[0].accept && e[1] >= s.edges[1].accept && e[2] >= s.edges[2].accept;
            if (TriangleSetup<L, M>::kStencil && full && s.fast) {
                const DepthTile& tile = s.depth->tiles[firstTile + t];
                const int64_t zTile = zRow + int64_t(8 * t) * s.zx;
                if (s.depthAt(zTile + farOffset) < tile.minDepth) {
                    continue; // nearer than everything stored: no pixel counts
                }
                if (s.depthAt(zTile + nearOffset) > tile.maxDepth) {
                    uint8_t* sv = s.stencil + size_t(firstTile + t) * 64;
                    for (int i = 0; i < 64; ++i) {
                        sv[i] = uint8_t(sv[i] + kStep);
                    }
                    passed += 64;
                    continue;
                }
            }
            passed += drawTile<L, M>(s, s.tileCol0 + 8 * t, ty, e, full);
        }
    }
    return passed;
}

template <class L, Member M>
void rasterizeTriangle(const RasterTarget& target, const RasterInputs& in) {
    TriangleSetup<L, M> setup(in);
    if (!setup.build(target)) {
        return;
    }
    const uint64_t passed = walkTileRuns<L, M>(setup);
    if (target.stats) {
        target.stats->triangles += 1;
        target.stats->pixels += passed;
    }
}

// The members in Member's order, drawn with lanes L.
template <class L>
constexpr RasterFunction kMemberTable[] = {
    &rasterizeTriangle<L, Member::Flat>,
    &rasterizeTriangle<L, Member::Gouraud>,
    &rasterizeTriangle<L, Member::GouraudAdd>,
    &rasterizeTriangle<L, Member::GouraudAddMasked>,
    &rasterizeTriangle<L, Member::LitAll>,
    &rasterizeTriangle<L, Member::LitOneMasked>,
    &rasterizeTriangle<L, Member::Textured>,
    &rasterizeTriangle<L, Member::StencilIncrement>,
    &rasterizeTriangle<L, Member::StencilDecrement>,
};
static_assert(std::size(kMemberTable<lanes::Scalar>) == size_t(Member::Count),
              "one table entry per member");

} // namespace

} // namespace lumo
