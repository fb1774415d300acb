#pragma once
// Every 8-lane operation applied to one set of inputs, for one lane type. The
// test compiles it once per lane type (the AVX2 copy inside a target region, as
// the rasterizer's own copy is), so its results can be held to Scalar's.

#include "render/internal/lanes.h"
#include "render/internal/raster_kernels.h"

#include <cstdint>
#include <cstring>

namespace lumo::test {

struct LaneInputs {
    alignas(32) int32_t a[8], b[8], c[8], d[8];
    alignas(32) int32_t tile[64];
    alignas(32) uint8_t bytes[32];
    alignas(32) float fa[8], fb[8];
    alignas(32) vec4 pixels[8];
    int32_t scalar, step;
    unsigned bits;
    int32_t texels;                 // a texture size
    alignas(32) uint32_t packed[8]; // packed texels
};

struct LaneResults {
    alignas(32) int32_t rows[12][8];
    alignas(32) uint8_t bytes[3][32];
    int64_t values[8];
    alignas(32) float floats[6][8];
    alignas(32) float unpacked[32];
    alignas(32) int32_t wrapped[2][8];

    bool operator==(const LaneResults& o) const { return std::memcmp(this, &o, sizeof o) == 0; }
};

namespace {

template <class L>
LaneResults applyLaneOps(const LaneInputs& in) {
    LaneResults out;
    std::memset(&out, 0, sizeof out);
    const auto a = L::load(in.a), b = L::load(in.b), c = L::load(in.c), d = L::load(in.d);
    const auto rows = {L::splat(in.scalar),
                       L::ramp(in.step),
                       L::add(a, b),
                       L::bitOr(a, b),
                       L::bitAnd(a, b),
                       L::greater(a, b),
                       L::min(a, b),
                       L::max(a, b),
                       L::select(L::greater(c, d), a, b),
                       L::fromBits(in.bits),
                       L::add(L::ramp(in.step), L::splat(in.scalar)),
                       L::select(L::greater(a, b), L::min(c, d), L::max(c, d))};
    int k = 0;
    for (const auto& row : rows) {
        L::store(out.rows[k++], row);
    }
    // The byte operations take masks (0 or -1 lanes), as the stencil counting does.
    const auto m0 = L::greater(a, b), m1 = L::greater(c, d), m2 = L::greater(b, c),
               m3 = L::fromBits(in.bits);
    const auto packed = L::packRows(m0, m1, m2, m3);
    const auto stored = L::loadBytes(in.bytes);
    L::storeBytes(out.bytes[0], packed);
    L::storeBytes(out.bytes[1], L::addBytes(stored, packed));
    L::storeBytes(out.bytes[2], L::subBytes(L::subBytes(stored, packed), L::zeroBytes()));
    out.values[0] = L::signBits(a);
    out.values[1] = L::minOf(a);
    out.values[2] = L::maxOf64(in.tile);
    out.values[3] = int64_t(L::sumBytes(stored));
    out.values[4] = int64_t(L::sumBytes(L::subBytes(L::zeroBytes(), packed)));
    out.values[5] = L::signBits(L::bitOr(L::bitOr(a, b), c));

    const auto fa = L::loadF(in.fa), fb = L::loadF(in.fb);
    typename L::F32 x, y, z;
    L::transpose(&in.pixels[0].x, x, y, z);
    const auto floats = {L::mul(fa, fb), L::div(fa, fb), x, y, z, L::addF(fa, fb)};
    k = 0;
    for (const auto& row : floats) {
        L::storeF(out.floats[k++], row);
    }
    L::store(out.rows[0], L::nearest(fa)); // splat's row is checked by ramp + splat
    out.values[6] = L::signBits(L::magnitudeBelow(fa, 1073741824.0f));
    out.values[7] = L::withinBits(a, in.texels);
    L::store(out.wrapped[0], wrapTexelLanes<L>(fa, in.texels));
    L::store(out.wrapped[1], wrapTexelLanes<L>(L::div(fa, fb), 7));
    L::unpackTexels(in.packed, out.unpacked);
    return out;
}

} // namespace

// The AVX2 copy (lanes_avx2_ops.cpp); call only where the processor has AVX2.
LaneResults applyLaneOpsAvx2(const LaneInputs& in);

} // namespace lumo::test
