#include "render/internal/raster.h"

#include "assets/texture.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <emmintrin.h>
#include <iterator>

namespace lumo {

namespace {

std::atomic<bool> gFastPaths{true};

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

struct Edge {
    int32_t a, b;   // per-pixel steps right and down
    int64_t origin; // e at the triangle's origin pixel
    int32_t reject; // tile outside when e < reject
    int32_t accept; // tile fully covered (by this edge) when e >= accept
};

vec4 splat(float v) {
    return {v, v, v, v};
}

// Largest of a tile's 64 depths, four independent lanes at a time (SSE2 has no
// signed 32-bit max: compare and select).
inline int32_t maxOf64(const int32_t* v) {
    auto max4 = [](__m128i a, __m128i b) {
        __m128i greater = _mm_cmpgt_epi32(a, b);
        return _mm_or_si128(_mm_and_si128(greater, a), _mm_andnot_si128(greater, b));
    };
    const __m128i* p = reinterpret_cast<const __m128i*>(v);
    __m128i m0 = _mm_load_si128(p), m1 = _mm_load_si128(p + 1);
    __m128i m2 = _mm_load_si128(p + 2), m3 = _mm_load_si128(p + 3);
    for (int i = 4; i < 16; i += 4) {
        m0 = max4(m0, _mm_load_si128(p + i));
        m1 = max4(m1, _mm_load_si128(p + i + 1));
        m2 = max4(m2, _mm_load_si128(p + i + 2));
        m3 = max4(m3, _mm_load_si128(p + i + 3));
    }
    __m128i m = max4(max4(m0, m1), max4(m2, m3));
    m = max4(m, _mm_shuffle_epi32(m, _MM_SHUFFLE(1, 0, 3, 2)));
    m = max4(m, _mm_shuffle_epi32(m, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_cvtsi128_si32(m);
}

template <Member M>
struct PixelContext {
    const RasterInputs& in;
    const TextureImage* texture;

    // The member's colour operation for a pixel that passed coverage and depth.
    // stencilCount is the pixel's count (0 without a stencil buffer).
    inline void shade(vec4& px, const vec4* v, uint8_t stencilCount) const {
        if constexpr (M == Member::Flat) {
            px = in.color[0];
        } else if constexpr (M == Member::Gouraud) {
            px = v[0];
        } else if constexpr (M == Member::GouraudAdd) {
            px += v[0];
        } else if constexpr (M == Member::GouraudAddMasked) {
            if (stencilCount == 0) {
                px += v[0];
            }
        } else if constexpr (M == Member::LitAll) {
            vec4 n = normalize(v[1]);
            LightResult r = lightVertexAll(in.lights, in.lightCount, v[0], n, in.shininess);
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
        } else if constexpr (M == Member::Textured) {
            float u = v[0].y / v[0].x;
            float t = v[0].z / v[0].x;
            int w = texture->width;
            int h = texture->height;
            int s = wrapTexel(u, w);
            int r = wrapTexel(t, h);
            px = texture->texels[size_t(h - 1 - r) * w + s];
        }
    }
};

// The running values of a tile's eight-pixel rows, for a tile whose depths fit
// in 32 bits (offsets i * zx are exact modulo 2^32 there): each pixel's depth
// and its three edge values, four lanes to a register, stepped a row at a time.
// Kept in named registers, not arrays indexed in loops, so that the compiler
// keeps every one of them in a register.
struct TileLanes {
    __m128i zLo, zHi, zStep;
    __m128i e0Lo, e0Hi, e1Lo, e1Hi, e2Lo, e2Hi;
    __m128i step0, step1, step2;

    TileLanes(const int32_t eRow[3], int64_t zRow, int64_t zx, int64_t zy, const Edge edges[3],
              const __m128i laneLo[3], const __m128i laneHi[3]) {
        const uint32_t step = uint32_t(int32_t(zx));
        const __m128i z0 = _mm_set1_epi32(int32_t(zRow));
        zLo = _mm_add_epi32(z0,
                            _mm_setr_epi32(0, int32_t(step), int32_t(2 * step), int32_t(3 * step)));
        zHi = _mm_add_epi32(z0, _mm_setr_epi32(int32_t(4 * step), int32_t(5 * step),
                                               int32_t(6 * step), int32_t(7 * step)));
        zStep = _mm_set1_epi32(int32_t(zy));
        e0Lo = _mm_add_epi32(_mm_set1_epi32(eRow[0]), laneLo[0]);
        e0Hi = _mm_add_epi32(_mm_set1_epi32(eRow[0]), laneHi[0]);
        e1Lo = _mm_add_epi32(_mm_set1_epi32(eRow[1]), laneLo[1]);
        e1Hi = _mm_add_epi32(_mm_set1_epi32(eRow[1]), laneHi[1]);
        e2Lo = _mm_add_epi32(_mm_set1_epi32(eRow[2]), laneLo[2]);
        e2Hi = _mm_add_epi32(_mm_set1_epi32(eRow[2]), laneHi[2]);
        step0 = _mm_set1_epi32(edges[0].b);
        step1 = _mm_set1_epi32(edges[1].b);
        step2 = _mm_set1_epi32(edges[2].b);
    }

    // Lanes with a negative edge value (the sign bit set): the pixels outside.
    __m128i outsideLo() const { return _mm_or_si128(_mm_or_si128(e0Lo, e1Lo), e2Lo); }
    __m128i outsideHi() const { return _mm_or_si128(_mm_or_si128(e0Hi, e1Hi), e2Hi); }

    void nextDepthRow() {
        zLo = _mm_add_epi32(zLo, zStep);
        zHi = _mm_add_epi32(zHi, zStep);
    }
    void nextEdgeRow() {
        e0Lo = _mm_add_epi32(e0Lo, step0);
        e0Hi = _mm_add_epi32(e0Hi, step0);
        e1Lo = _mm_add_epi32(e1Lo, step1);
        e1Hi = _mm_add_epi32(e1Hi, step1);
        e2Lo = _mm_add_epi32(e2Lo, step2);
        e2Hi = _mm_add_epi32(e2Hi, step2);
    }
};

// Depth-fail counting of the 64 pixels of one tile whose depths fit in 32 bits:
// kFull, every pixel is covered; kBehind, every pixel fails the depth test.
// Returns the pixels counted.
template <Member M, bool kFull, bool kBehind>
inline uint64_t countRows(const int32_t* dv, uint8_t* sv, TileLanes lanes) {
    const __m128i allSet = _mm_set1_epi32(-1);
    const __m128i* stored = reinterpret_cast<const __m128i*>(dv);
    __m128i* counts = reinterpret_cast<__m128i*>(sv);

    // The counted pixels of row j as two masks of four lanes (0 or -1).
    auto row = [&](int j, __m128i& lo, __m128i& hi) __attribute__((always_inline)) {
        lo = allSet;
        hi = allSet;
        if constexpr (!kBehind) {
            lo = _mm_cmpgt_epi32(lanes.zLo, _mm_load_si128(stored + 2 * j));
            hi = _mm_cmpgt_epi32(lanes.zHi, _mm_load_si128(stored + 2 * j + 1));
            lanes.nextDepthRow();
        }
        if constexpr (!kFull) {
            lo = _mm_and_si128(lo, _mm_cmpgt_epi32(lanes.outsideLo(), allSet));
            hi = _mm_and_si128(hi, _mm_cmpgt_epi32(lanes.outsideHi(), allSet));
            lanes.nextEdgeRow();
        }
    };
    __m128i tally = _mm_setzero_si128(); // per byte: pixels counted so far
#pragma GCC unroll 4
    for (int j = 0; j < 8; j += 2) {
        __m128i lo0, hi0, lo1, hi1;
        row(j, lo0, hi0);
        row(j + 1, lo1, hi1);
        // Sixteen lanes of 0 or -1, as bytes: the counted pixels.
        const __m128i counted =
            _mm_packs_epi16(_mm_packs_epi32(lo0, hi0), _mm_packs_epi32(lo1, hi1));
        __m128i values = _mm_load_si128(counts + j / 2);
        values = M == Member::StencilIncrement ? _mm_sub_epi8(values, counted)
                                               : _mm_add_epi8(values, counted);
        _mm_store_si128(counts + j / 2, values);
        tally = _mm_sub_epi8(tally, counted);
    }
    const __m128i sums = _mm_sad_epu8(tally, _mm_setzero_si128());
    return uint64_t(_mm_cvtsi128_si32(sums)) + uint64_t(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
}

// The pixels of a tile whose depths fit in 32 bits that are covered (every
// pixel when full) and pass the depth test (z <= stored), a byte per row: bit
// i of byte j is pixel i of row j.
inline uint64_t tileMask(const int32_t* dv, bool full, TileLanes lanes) {
    // A full tile needs no edge test: an all-zero sign mask passes every pixel.
    const __m128i edgeUse = full ? _mm_setzero_si128() : _mm_set1_epi32(-1);
    const __m128i* stored = reinterpret_cast<const __m128i*>(dv);
    uint64_t bits = 0;
#pragma GCC unroll 8
    for (int j = 0; j < 8; ++j) {
        // A pixel is dropped when an edge value is negative or it fails the depth test.
        __m128i outLo = _mm_and_si128(lanes.outsideLo(), edgeUse);
        __m128i outHi = _mm_and_si128(lanes.outsideHi(), edgeUse);
        outLo = _mm_or_si128(outLo, _mm_cmpgt_epi32(lanes.zLo, _mm_load_si128(stored + 2 * j)));
        outHi = _mm_or_si128(outHi, _mm_cmpgt_epi32(lanes.zHi, _mm_load_si128(stored + 2 * j + 1)));
        const unsigned out = unsigned(_mm_movemask_ps(_mm_castsi128_ps(outLo))) |
                             unsigned(_mm_movemask_ps(_mm_castsi128_ps(outHi))) << 4;
        bits |= uint64_t(~out & 0xFFu) << (8 * j);
        lanes.nextDepthRow();
        lanes.nextEdgeRow();
    }
    return bits;
}

// The same for a tile whose depths leave 32 bits (slivers with huge slopes):
// each pixel's depth clamped from the 64-bit plane.
template <class RowMask>
inline uint64_t tileMaskWide(const int32_t* dv, const int32_t eRow[3], bool full, int64_t zRow,
                             int64_t zx, int64_t zy, const Edge edges[3], const RowMask& rowMask) {
    int32_t e[3] = {eRow[0], eRow[1], eRow[2]};
    uint64_t bits = 0;
    for (int j = 0; j < 8; ++j) {
        const unsigned mask = full ? 0xFFu : rowMask(e);
        unsigned pass = 0;
        for (unsigned m = mask; m; m &= m - 1) {
            const int i = __builtin_ctz(m);
            pass |= unsigned(dv[j * 8 + i] >= fixed::clampDepth(zRow + i * zx)) << i;
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
template <Member M>
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
    bool fast = true;

    PlaneSetup ps;
    Edge edges[3];
    int ox = 0, oy = 0;
    int tileCol0 = 0, colEnd = 0, rowFirst = 0, rowLast = 0;
    int64_t zx = 0, zy = 0, zOrigin = 0;
    AttributePlane planes[kPlanes > 0 ? kPlanes : 1];
    // Edge values of the 8 pixels of a tile row, relative to its first: i * a.
    __m128i laneLo[3], laneHi[3];

    explicit TriangleSetup(const RasterInputs& inputs) : in(inputs) {}

    // False when nothing of the triangle is drawn into this band: missing or
    // mismatched targets, a vertex outside the guard band or not finite, a
    // float area that is not negative, or no tile of the band touched.
    bool build(const RasterTarget& target);

    int32_t edgeAt(int k, int tx, int ty) const {
        const Edge& e = edges[k];
        return int32_t(e.origin + int64_t(tx - ox) * e.a + int64_t(ty - oy) * e.b);
    }

    // The tile at (tx, ty): -1 - k when edge k is the first to reject it, 1 when
    // fully covered, 0 when partly covered; e receives its corner's edge values.
    int classify(int tx, int ty, int32_t e[3]) const {
        bool full = true;
        for (int k = 0; k < 3; ++k) {
            e[k] = edgeAt(k, tx, ty);
            if (e[k] < edges[k].reject) {
                return -1 - k;
            }
            full = full && e[k] >= edges[k].accept;
        }
        return full ? 1 : 0;
    }

    // Coverage of the 8 pixels of a tile row whose first pixel has edge values
    // e, four lanes at a time: bit i set when no edge value of pixel i is negative.
    unsigned rowMask(const int32_t e[3]) const {
        __m128i lo = _mm_add_epi32(_mm_set1_epi32(e[0]), laneLo[0]);
        __m128i hi = _mm_add_epi32(_mm_set1_epi32(e[0]), laneHi[0]);
        for (int k = 1; k < 3; ++k) {
            lo = _mm_or_si128(lo, _mm_add_epi32(_mm_set1_epi32(e[k]), laneLo[k]));
            hi = _mm_or_si128(hi, _mm_add_epi32(_mm_set1_epi32(e[k]), laneHi[k]));
        }
        int negative =
            _mm_movemask_ps(_mm_castsi128_ps(lo)) | (_mm_movemask_ps(_mm_castsi128_ps(hi)) << 4);
        return unsigned(~negative) & 0xFFu;
    }
};

template <Member M>
bool TriangleSetup<M>::build(const RasterTarget& target) {
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
        const int32_t a = edges[k].a;
        laneLo[k] = _mm_setr_epi32(0, a, 2 * a, 3 * a);
        laneHi[k] = _mm_setr_epi32(4 * a, 5 * a, 6 * a, 7 * a);
    }
    fast = gFastPaths.load(std::memory_order_relaxed);
    return true;
}

// Step 3, per tile the walk did not reject: the tile at (tx, ty) with its
// corner's edge values e, fully covered when full. Returns the pixels drawn
// (shading members) or counted (stencil members).
template <Member M>
__attribute__((always_inline)) inline uint64_t drawTile(const TriangleSetup<M>& s, int tx, int ty,
                                                        const int32_t e[3], bool full) {
    constexpr int kPlanes = TriangleSetup<M>::kPlanes;
    using fixed::clampDepth;

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
    const int32_t faceMin = clampDepth(cornerMin);
    const int32_t faceMax = clampDepth(cornerMax);
    // The tile's depths fit in 32 bits (always, short of slivers): the
    // register paths apply, with offsets exact modulo 2^32.
    const bool depth32 = cornerMin >= INT32_MIN && cornerMax <= INT32_MAX;
    int32_t eRow[3] = {e[0], e[1], e[2]};
    int64_t zRow = zTile;
    auto lanes = [&] { return TileLanes(eRow, zRow, zx, zy, s.edges, s.laneLo, s.laneHi); };
    uint64_t passed = 0;

    if constexpr (TriangleSetup<M>::kStencil) {
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
            // Two rows (16 stencil bytes) at a time, branch-free, with the same
            // comparisons as the scalar loop below. A face behind everything
            // stored in the tile fails the depth test at every pixel, so only
            // coverage decides there (thin volume faces converging behind a
            // surface are mostly that).
            const bool behind = s.fast && faceMin > tile.maxDepth;
            if (full) {
                return countRows<M, true, false>(dv, sv, lanes());
            }
            if (behind) {
                return countRows<M, false, true>(dv, sv, lanes());
            }
            return countRows<M, false, false>(dv, sv, lanes());
        }
        for (int j = 0; j < 8; ++j) {
            unsigned mask = full ? 0xFFu : s.rowMask(eRow);
            while (mask) {
                int i = __builtin_ctz(mask);
                mask &= mask - 1;
                int idx = j * 8 + i;
                if (dv[idx] < clampDepth(zRow + i * zx)) {
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
        const uint64_t shade = fill ? ~uint64_t(0)
                               : depth32
                                   ? tileMask(dv, full, lanes())
                                   : tileMaskWide(dv, eRow, full, zRow, zx, zy, s.edges, rowMask);
        if (shade == 0) {
            return 0;
        }
        vec4* row = s.colorPixels + size_t(ty) * s.colorWidth + tx;
        // The colour rows of a tile are 8 separate 128-byte runs: ask for
        // all the needed ones at once instead of missing on each in turn.
        for (int j = 0; j < 8; ++j) {
            if ((shade >> (8 * j)) & 0xFFu) {
                __builtin_prefetch(row + size_t(j) * s.colorWidth, 1);
                __builtin_prefetch(row + size_t(j) * s.colorWidth + 4, 1);
            }
        }
        const PixelContext<M> context{s.in, s.texture};
        vec4 attrRow[kPlanes > 0 ? kPlanes : 1];
        for (int k = 0; k < kPlanes; ++k) {
            attrRow[k] = s.ps.at(s.planes[k], tx, ty);
        }
        int32_t tileMin = tile.minDepth;
        for (int j = 0; j < 8; ++j, row += s.colorWidth) {
            const unsigned mask = unsigned(shade >> (8 * j)) & 0xFFu;
            if (mask) {
                // Attributes step by addition from the row start; only the
                // covered pixels that passed the depth test are shaded.
                vec4 attr[kPlanes > 0 ? kPlanes : 1];
                for (int k = 0; k < kPlanes; ++k) {
                    attr[k] = attrRow[k];
                }
                const int last = 31 - __builtin_clz(mask);
                // Without attributes nothing needs stepping from the row start.
                const int first = kPlanes == 0 ? __builtin_ctz(mask) : 0;
                int64_t z = zRow + first * zx;
                for (int i = first; i <= last; ++i) {
                    if ((mask >> i) & 1u) {
                        const int idx = j * 8 + i;
                        const int32_t zc = clampDepth(z);
                        dv[idx] = zc;
                        tileMin = std::min(tileMin, zc);
                        context.shade(row[i], attr, sv ? sv[idx] : uint8_t(0));
                        ++passed;
                    }
                    z += zx;
                    for (int k = 0; k < kPlanes; ++k) {
                        attr[k] += s.planes[k].dx;
                    }
                }
            }
            zRow += zy;
            for (int k = 0; k < kPlanes; ++k) {
                attrRow[k] += s.planes[k].dy;
            }
        }
        if (fill) {
            // In front of everything stored: the tile now holds exactly the face.
            tile.minDepth = faceMin;
            tile.maxDepth = faceMax;
        } else {
            tile.minDepth = tileMin;
            tile.maxDepth = maxOf64(dv);
        }
        return passed;
    }
}

// Step 2: the serpentine walk over the band's tile rows. Each row first runs
// on in the previous direction over tiles that are not outside, then turns and
// draws back across the row. An outside tile ends the row when its rejecting
// edge falls further in the walking direction (every later tile is outside
// too); otherwise it is skipped. Returns the pixels drawn or counted.
template <Member M>
__attribute__((always_inline)) inline uint64_t walkTiles(const TriangleSetup<M>& s) {
    uint64_t passed = 0;
    int col = s.tileCol0;
    int dir = -1;
    auto inRange = [&](int c) { return c >= s.tileCol0 && c < s.colEnd; };
    int32_t e[3];
    for (int ty = s.rowFirst & ~7; ty < s.rowLast; ty += 8) {
        while (inRange(col) && s.classify(col, ty, e) >= 0) {
            col += dir * 8;
        }
        dir = -dir;
        col += dir * 8;
        while (inRange(col)) {
            int cls = s.classify(col, ty, e);
            if (cls < 0) {
                if (s.edges[-1 - cls].a * dir < 0) {
                    break;
                }
                col += dir * 8;
                continue;
            }
            passed += drawTile<M>(s, col, ty, e, cls == 1);
            col += dir * 8;
        }
    }
    return passed;
}

template <Member M>
void rasterizeTriangle(const RasterTarget& target, const RasterInputs& in) {
    TriangleSetup<M> setup(in);
    if (!setup.build(target)) {
        return;
    }
    const uint64_t passed = walkTiles<M>(setup);
    if (target.stats) {
        target.stats->triangles += 1;
        target.stats->pixels += passed;
    }
}

using RasterFunction = void (*)(const RasterTarget&, const RasterInputs&);

constexpr RasterFunction kMembers[] = {
    &rasterizeTriangle<Member::Flat>,
    &rasterizeTriangle<Member::Gouraud>,
    &rasterizeTriangle<Member::GouraudAdd>,
    &rasterizeTriangle<Member::GouraudAddMasked>,
    &rasterizeTriangle<Member::LitAll>,
    &rasterizeTriangle<Member::LitOneMasked>,
    &rasterizeTriangle<Member::Textured>,
    &rasterizeTriangle<Member::StencilIncrement>,
    &rasterizeTriangle<Member::StencilDecrement>,
};
static_assert(std::size(kMembers) == size_t(Member::Count), "one table entry per member");

} // namespace

void rasterize(Member member, const RasterTarget& target, const RasterInputs& inputs) {
    int index = int(member);
    if (index >= 0 && index < int(Member::Count)) {
        kMembers[index](target, inputs);
    }
}

void setRasterFastPaths(bool enabled) {
    gFastPaths.store(enabled, std::memory_order_relaxed);
}

bool rasterFastPaths() {
    return gFastPaths.load(std::memory_order_relaxed);
}

LightResult lightVertexAll(Light* const* lights, int lightCount, const vec4& p, const vec4& n,
                           float shininess) {
    LightResult sum;
    for (int i = 0; i < lightCount; ++i) {
        LightResult r = lightVertex(*lights[i], p, n, shininess);
        sum.diffuse += r.diffuse;
        sum.specular += r.specular;
    }
    return sum;
}

int wrapTexel(float c, int n) {
    // Nearest (ties to even, the default rounding mode) then modulo n, made
    // non-negative. Values beyond 2^30 or not finite sample index 0.
    float scaled = c * float(n);
    if (!(std::fabs(scaled) < 1073741824.0f)) {
        return 0;
    }
    int i = _mm_cvtss_si32(_mm_set_ss(scaled)) % n;
    return i < 0 ? i + n : i;
}

} // namespace lumo
