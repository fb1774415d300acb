#pragma once
// Fixed-point conventions of the tile rasterizer, in one place.
//
// Screen space: x grows to the right, y downwards, in pixels; pixel (x, y) is
// sampled at the point (x, y) itself, with no half-pixel offset.
//
// Snapping: a vertex coordinate v becomes round-to-nearest-even(v * 16), a 28.4
// fixed-point value. ceil16 takes such a value up to whole pixels.
//
// Edges: for a directed edge P -> Q, A = YQ - YP and B = XP - XQ, and at pixel
// (x, y) E = (16y - YP) * B + (16x - XP) * A. The top-left bias adds 1 to E when
// A > 0, or A = 0 and B > 0 (applied in exactly one place, edgeBias). The working
// value is e = (E - 1) >> 4: since 16x and 16y are multiples of 16, one pixel to
// the right adds exactly A to e and one pixel down exactly B. A pixel is covered
// when e >= 0 for all three edges, which only happens for triangles whose
// y-down signed area is negative.
//
// Range: vertices must lie inside the guard band, kGuardPixels beyond each side
// of a buffer of at most kMaxBufferSize pixels, so every snapped coordinate is
// below 2^17 in magnitude, |A| and |B| below 2^17, E (formed in 64 bits) below
// 2^35 and e below 2^31 with room for the tile steps: e fits in 32 bits. The
// pipeline's clipping keeps real geometry inside the viewport; anything outside
// the guard band (or not finite) is not drawn.
//
// Depth: a smaller integer is nearer. Shading faces map the normalised depth z to
// trunc((z - 1.0f) * 536870911.0): the subtraction in single, the product in
// double precision. Shadow-volume faces use trunc((z - 0.999999) * 536870911.0),
// all in double, which puts them about 537 units behind a surface at the same z.
// Depths in [-1, 1) land in [-1073741822, 0]; a cleared pixel holds 0x7FFFFFFF,
// farther than any surface. Out-of-range products are clamped to 32 bits.
// Depth steps across a triangle are integers (truncated plane slopes, clamped to
// 32 bits) added in 64 bits from the plane's origin; each pixel's depth is that
// value clamped to the triangle's corner depths widened by kDepthSlack, so the
// tile's depth range is the clamped range of its four corner pixels. The slack
// keeps what rounding of the stepped plane gives near a corner (a few hundred
// units, more on steep planes) as it is; without the clamp a sliver's steep
// plane could step a covered pixel to any depth, in front of everything.

#include <cmath>
#include <cstdint>
#include <xmmintrin.h>

namespace lumo::fixed {

constexpr int kSubpixelBits = 4;
constexpr float kSubpixelScale = 16.0f;
constexpr int kTileSize = 8;
constexpr int kMaxBufferSize = 4096;
constexpr int kGuardPixels = 512;

constexpr int32_t kDepthCleared = 0x7FFFFFFF;
constexpr int64_t kDepthSlack = 65536;
constexpr double kDepthScale = 536870911.0; // 2^29 - 1

// Round to nearest, ties to even (the default rounding mode), in 28.4; callers keep
// v inside the guard band.
inline int32_t snap(float v) {
    return _mm_cvtss_si32(_mm_set_ss(v * kSubpixelScale));
}

constexpr int32_t ceil16(int32_t v) {
    return (v + 15) >> kSubpixelBits;
}

// The one place the fill rule lives: pixels exactly on a top or left edge belong
// to the triangle, those on a bottom or right edge do not.
constexpr int32_t edgeBias(int32_t a, int32_t b) {
    return (a > 0 || (a == 0 && b > 0)) ? 1 : 0;
}

// Truncation toward zero, clamped to the 32-bit range (NaN gives 0).
inline int32_t truncClamp(double v) {
    if (!(v > -2147483648.0)) {
        return v != v ? 0 : INT32_MIN;
    }
    if (!(v < 2147483647.0)) {
        return INT32_MAX;
    }
    return int32_t(v);
}

// The depth plane's origin may lie outside the triangle, where the plane can
// leave the 32-bit range although every covered pixel is inside it: the origin
// and the stepping are 64-bit, and each pixel's depth is clamped to 32 bits.
inline int64_t truncPlane(float v) {
    constexpr float kLimit = 2305843009213693952.0f; // 2^61: steps cannot overflow
    if (!(v > -kLimit && v < kLimit)) {
        return v != v ? 0 : (v < 0.0f ? -int64_t(kLimit) : int64_t(kLimit));
    }
    return int64_t(v);
}

constexpr int32_t clampDepth(int64_t z) {
    return z < INT32_MIN ? INT32_MIN : z > INT32_MAX ? INT32_MAX : int32_t(z);
}

inline int32_t shadingDepth(float z) {
    return truncClamp(double(z - 1.0f) * kDepthScale);
}

inline int32_t stencilDepth(float z) {
    return truncClamp((double(z) - 0.999999) * kDepthScale);
}

} // namespace lumo::fixed
