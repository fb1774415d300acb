#pragma once
// Eight 32-bit lanes: the pixels of one tile row. The rasterizer's tile code is
// written once against this small set of operations and compiled once per
// vector path (raster_kernels.h); every path gives the same lanes bit for bit.
//
// Scalar is the readable reference, a plain loop per operation; the tests hold
// every vector path to it. Sse keeps a row in two 4-lane registers and needs
// nothing beyond the x86-64 baseline (SSE2, which has no signed 32-bit min or
// max and no variable blend: compare and select). Avx2 (lanes_avx2.h) keeps a
// row in one register.
//
// Conventions: a mask lane is 0 or -1 (all bits set); memory operands are rows
// of 8 int32 (aligned to 32 bytes) or four rows of 8 bytes (32 bytes, aligned).

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <emmintrin.h>
#include <xmmintrin.h>

namespace lumo::lanes {

struct Scalar {
    struct I32 {
        int32_t v[8];
    };
    struct F32 {
        float v[8];
    };
    struct Bytes {
        uint8_t v[32];
    };

    static I32 splat(int32_t x) {
        I32 r;
        std::fill(r.v, r.v + 8, x);
        return r;
    }
    // (0, step, 2 step, ..., 7 step), wrapping modulo 2^32.
    static I32 ramp(int32_t step) {
        I32 r;
        for (int i = 0; i < 8; ++i) {
            r.v[i] = int32_t(uint32_t(i) * uint32_t(step));
        }
        return r;
    }
    static I32 load(const int32_t* p) {
        I32 r;
        std::memcpy(r.v, p, sizeof r.v);
        return r;
    }
    static void store(int32_t* p, const I32& a) { std::memcpy(p, a.v, sizeof a.v); }

    template <class F>
    static I32 each(const I32& a, const I32& b, F f) {
        I32 r;
        for (int i = 0; i < 8; ++i) {
            r.v[i] = f(a.v[i], b.v[i]);
        }
        return r;
    }
    static I32 add(const I32& a, const I32& b) {
        return each(a, b, [](int32_t x, int32_t y) { return int32_t(uint32_t(x) + uint32_t(y)); });
    }
    static I32 bitOr(const I32& a, const I32& b) {
        return each(a, b, [](int32_t x, int32_t y) { return x | y; });
    }
    static I32 bitAnd(const I32& a, const I32& b) {
        return each(a, b, [](int32_t x, int32_t y) { return x & y; });
    }
    static I32 greater(const I32& a, const I32& b) {
        return each(a, b, [](int32_t x, int32_t y) { return x > y ? -1 : 0; });
    }
    static I32 min(const I32& a, const I32& b) {
        return each(a, b, [](int32_t x, int32_t y) { return std::min(x, y); });
    }
    static I32 max(const I32& a, const I32& b) {
        return each(a, b, [](int32_t x, int32_t y) { return std::max(x, y); });
    }
    // mask ? a : b, lane by lane.
    static I32 select(const I32& mask, const I32& a, const I32& b) {
        I32 r;
        for (int i = 0; i < 8; ++i) {
            r.v[i] = mask.v[i] ? a.v[i] : b.v[i];
        }
        return r;
    }
    // Bit i set when lane i is negative.
    static unsigned signBits(const I32& a) {
        unsigned bits = 0;
        for (int i = 0; i < 8; ++i) {
            bits |= unsigned(a.v[i] < 0) << i;
        }
        return bits;
    }
    // The 8 lanes of each bit of a row mask, bit i to lane i.
    static I32 fromBits(unsigned bits) {
        I32 r;
        for (int i = 0; i < 8; ++i) {
            r.v[i] = (bits >> i) & 1u ? -1 : 0;
        }
        return r;
    }
    static int32_t minOf(const I32& a) { return *std::min_element(a.v, a.v + 8); }
    // The largest of 64 values (a tile's depths).
    static int32_t maxOf64(const int32_t* p) { return *std::max_element(p, p + 64); }

    // Four row masks as 32 bytes of 0 or 0xFF, row by row.
    static Bytes packRows(const I32& r0, const I32& r1, const I32& r2, const I32& r3) {
        Bytes b;
        const I32* rows[4] = {&r0, &r1, &r2, &r3};
        for (int j = 0; j < 4; ++j) {
            for (int i = 0; i < 8; ++i) {
                b.v[8 * j + i] = rows[j]->v[i] ? 0xFF : 0;
            }
        }
        return b;
    }
    static Bytes zeroBytes() { return Bytes{}; }
    static Bytes loadBytes(const uint8_t* p) {
        Bytes b;
        std::memcpy(b.v, p, sizeof b.v);
        return b;
    }
    static void storeBytes(uint8_t* p, const Bytes& b) { std::memcpy(p, b.v, sizeof b.v); }
    static Bytes addBytes(const Bytes& a, const Bytes& b) {
        Bytes r;
        for (int i = 0; i < 32; ++i) {
            r.v[i] = uint8_t(a.v[i] + b.v[i]);
        }
        return r;
    }
    static Bytes subBytes(const Bytes& a, const Bytes& b) {
        Bytes r;
        for (int i = 0; i < 32; ++i) {
            r.v[i] = uint8_t(a.v[i] - b.v[i]);
        }
        return r;
    }
    static uint64_t sumBytes(const Bytes& b) {
        uint64_t sum = 0;
        for (uint8_t x : b.v) {
            sum += x;
        }
        return sum;
    }

    // Float lanes: the first three components of 8 consecutive vec4 values
    // (x, y, z of pixel i in lane i).
    static void transpose(const float* v4, F32& x, F32& y, F32& z) {
        for (int i = 0; i < 8; ++i) {
            x.v[i] = v4[4 * i];
            y.v[i] = v4[4 * i + 1];
            z.v[i] = v4[4 * i + 2];
        }
    }
    static F32 splatF(float x) {
        F32 r;
        std::fill(r.v, r.v + 8, x);
        return r;
    }
    static F32 loadF(const float* p) {
        F32 r;
        std::memcpy(r.v, p, sizeof r.v);
        return r;
    }
    static void storeF(float* p, const F32& a) { std::memcpy(p, a.v, sizeof a.v); }
    static F32 mul(const F32& a, const F32& b) {
        F32 r;
        for (int i = 0; i < 8; ++i) {
            r.v[i] = a.v[i] * b.v[i];
        }
        return r;
    }
    static F32 div(const F32& a, const F32& b) {
        F32 r;
        for (int i = 0; i < 8; ++i) {
            r.v[i] = a.v[i] / b.v[i];
        }
        return r;
    }
    static F32 addF(const F32& a, const F32& b) {
        F32 r;
        for (int i = 0; i < 8; ++i) {
            r.v[i] = a.v[i] + b.v[i];
        }
        return r;
    }
    // Eight packed texels (bytes r, g, b, a from the low end) as premultiplied
    // floats, texel i at out[4 i ...]: (r a, g a, b a, a), each byte c taken as
    // c / 255 rounded to float, exactly what the texture loader makes of it.
    static void unpackTexels(const uint32_t* p, float* out) {
        for (int i = 0; i < 8; ++i) {
            auto channel = [&](int shift) { return float((p[i] >> shift) & 0xFFu) / 255.0f; };
            const float a = channel(24);
            out[4 * i] = channel(0) * a;
            out[4 * i + 1] = channel(8) * a;
            out[4 * i + 2] = channel(16) * a;
            out[4 * i + 3] = a;
        }
    }
    // Lanes with |a| < limit (NaN is not).
    static I32 magnitudeBelow(const F32& a, float limit) {
        I32 r;
        for (int i = 0; i < 8; ++i) {
            r.v[i] = std::fabs(a.v[i]) < limit ? -1 : 0;
        }
        return r;
    }
    // Nearest integer, ties to even (the default rounding mode); lanes outside
    // the 32-bit range or NaN give INT32_MIN, as the processor's conversion does.
    static I32 nearest(const F32& a) {
        I32 r;
        for (int i = 0; i < 8; ++i) {
            const float x = a.v[i];
            r.v[i] =
                x >= -2147483648.0f && x < 2147483648.0f ? int32_t(std::nearbyint(x)) : INT32_MIN;
        }
        return r;
    }
    // Bit i set when 0 <= a lane i < n.
    static unsigned withinBits(const I32& a, int32_t n) {
        unsigned bits = 0;
        for (int i = 0; i < 8; ++i) {
            bits |= unsigned(a.v[i] >= 0 && a.v[i] < n) << i;
        }
        return bits;
    }
};

struct Sse {
    struct I32 {
        __m128i lo, hi;
    };
    struct F32 {
        __m128 lo, hi;
    };
    struct Bytes {
        __m128i lo, hi;
    };

    static I32 splat(int32_t x) { return {_mm_set1_epi32(x), _mm_set1_epi32(x)}; }
    static I32 ramp(int32_t step) {
        const uint32_t s = uint32_t(step);
        return {_mm_setr_epi32(0, int32_t(s), int32_t(2 * s), int32_t(3 * s)),
                _mm_setr_epi32(int32_t(4 * s), int32_t(5 * s), int32_t(6 * s), int32_t(7 * s))};
    }
    static I32 load(const int32_t* p) {
        const __m128i* q = reinterpret_cast<const __m128i*>(p);
        return {_mm_load_si128(q), _mm_load_si128(q + 1)};
    }
    static void store(int32_t* p, const I32& a) {
        __m128i* q = reinterpret_cast<__m128i*>(p);
        _mm_store_si128(q, a.lo);
        _mm_store_si128(q + 1, a.hi);
    }
    static I32 add(const I32& a, const I32& b) {
        return {_mm_add_epi32(a.lo, b.lo), _mm_add_epi32(a.hi, b.hi)};
    }
    static I32 bitOr(const I32& a, const I32& b) {
        return {_mm_or_si128(a.lo, b.lo), _mm_or_si128(a.hi, b.hi)};
    }
    static I32 bitAnd(const I32& a, const I32& b) {
        return {_mm_and_si128(a.lo, b.lo), _mm_and_si128(a.hi, b.hi)};
    }
    static I32 greater(const I32& a, const I32& b) {
        return {_mm_cmpgt_epi32(a.lo, b.lo), _mm_cmpgt_epi32(a.hi, b.hi)};
    }
    static __m128i select4(__m128i mask, __m128i a, __m128i b) {
        return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
    }
    static I32 select(const I32& mask, const I32& a, const I32& b) {
        return {select4(mask.lo, a.lo, b.lo), select4(mask.hi, a.hi, b.hi)};
    }
    static __m128i min4(__m128i a, __m128i b) { return select4(_mm_cmpgt_epi32(a, b), b, a); }
    static __m128i max4(__m128i a, __m128i b) { return select4(_mm_cmpgt_epi32(a, b), a, b); }
    static I32 min(const I32& a, const I32& b) { return {min4(a.lo, b.lo), min4(a.hi, b.hi)}; }
    static I32 max(const I32& a, const I32& b) { return {max4(a.lo, b.lo), max4(a.hi, b.hi)}; }
    static unsigned signBits(const I32& a) {
        return unsigned(_mm_movemask_ps(_mm_castsi128_ps(a.lo))) |
               unsigned(_mm_movemask_ps(_mm_castsi128_ps(a.hi))) << 4;
    }
    static I32 fromBits(unsigned bits) {
        const __m128i lanesLo = _mm_setr_epi32(1, 2, 4, 8);
        const __m128i lanesHi = _mm_setr_epi32(16, 32, 64, 128);
        const __m128i b = _mm_set1_epi32(int32_t(bits));
        return {_mm_cmpeq_epi32(_mm_and_si128(b, lanesLo), lanesLo),
                _mm_cmpeq_epi32(_mm_and_si128(b, lanesHi), lanesHi)};
    }
    static int32_t minOf(const I32& a) {
        __m128i m = min4(a.lo, a.hi);
        m = min4(m, _mm_shuffle_epi32(m, _MM_SHUFFLE(1, 0, 3, 2)));
        m = min4(m, _mm_shuffle_epi32(m, _MM_SHUFFLE(2, 3, 0, 1)));
        return _mm_cvtsi128_si32(m);
    }
    // Four independent running maxima hide the compare-and-select latency.
    static int32_t maxOf64(const int32_t* v) {
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
    // Saturating packs keep 0 and -1 as they are, so the lanes land as bytes in order.
    static Bytes packRows(const I32& r0, const I32& r1, const I32& r2, const I32& r3) {
        return {_mm_packs_epi16(_mm_packs_epi32(r0.lo, r0.hi), _mm_packs_epi32(r1.lo, r1.hi)),
                _mm_packs_epi16(_mm_packs_epi32(r2.lo, r2.hi), _mm_packs_epi32(r3.lo, r3.hi))};
    }
    static Bytes zeroBytes() { return {_mm_setzero_si128(), _mm_setzero_si128()}; }
    static Bytes loadBytes(const uint8_t* p) {
        const __m128i* q = reinterpret_cast<const __m128i*>(p);
        return {_mm_load_si128(q), _mm_load_si128(q + 1)};
    }
    static void storeBytes(uint8_t* p, const Bytes& b) {
        __m128i* q = reinterpret_cast<__m128i*>(p);
        _mm_store_si128(q, b.lo);
        _mm_store_si128(q + 1, b.hi);
    }
    static Bytes addBytes(const Bytes& a, const Bytes& b) {
        return {_mm_add_epi8(a.lo, b.lo), _mm_add_epi8(a.hi, b.hi)};
    }
    static Bytes subBytes(const Bytes& a, const Bytes& b) {
        return {_mm_sub_epi8(a.lo, b.lo), _mm_sub_epi8(a.hi, b.hi)};
    }
    static uint64_t sumBytes(const Bytes& b) {
        const __m128i s = _mm_add_epi64(_mm_sad_epu8(b.lo, _mm_setzero_si128()),
                                        _mm_sad_epu8(b.hi, _mm_setzero_si128()));
        return uint64_t(_mm_cvtsi128_si32(s)) + uint64_t(_mm_cvtsi128_si32(_mm_srli_si128(s, 8)));
    }

    static void transpose(const float* v4, F32& x, F32& y, F32& z) {
        __m128 a = _mm_load_ps(v4), b = _mm_load_ps(v4 + 4), c = _mm_load_ps(v4 + 8),
               d = _mm_load_ps(v4 + 12);
        _MM_TRANSPOSE4_PS(a, b, c, d);
        x.lo = a;
        y.lo = b;
        z.lo = c;
        a = _mm_load_ps(v4 + 16), b = _mm_load_ps(v4 + 20), c = _mm_load_ps(v4 + 24),
        d = _mm_load_ps(v4 + 28);
        _MM_TRANSPOSE4_PS(a, b, c, d);
        x.hi = a;
        y.hi = b;
        z.hi = c;
    }
    static F32 splatF(float x) { return {_mm_set1_ps(x), _mm_set1_ps(x)}; }
    static F32 loadF(const float* p) { return {_mm_load_ps(p), _mm_load_ps(p + 4)}; }
    static void storeF(float* p, const F32& a) {
        _mm_store_ps(p, a.lo);
        _mm_store_ps(p + 4, a.hi);
    }
    static F32 mul(const F32& a, const F32& b) {
        return {_mm_mul_ps(a.lo, b.lo), _mm_mul_ps(a.hi, b.hi)};
    }
    static F32 div(const F32& a, const F32& b) {
        return {_mm_div_ps(a.lo, b.lo), _mm_div_ps(a.hi, b.hi)};
    }
    static F32 addF(const F32& a, const F32& b) {
        return {_mm_add_ps(a.lo, b.lo), _mm_add_ps(a.hi, b.hi)};
    }
    static void unpackTexels(const uint32_t* p, float* out) {
        const __m128i byte = _mm_set1_epi32(0xFF);
        const __m128 scale = _mm_set1_ps(255.0f);
        for (int h = 0; h < 2; ++h) {
            const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4 * h));
            auto channel = [&](int shift) {
                return _mm_div_ps(_mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(t, shift), byte)),
                                  scale);
            };
            __m128 a = channel(24);
            __m128 r = _mm_mul_ps(channel(0), a), g = _mm_mul_ps(channel(8), a),
                   b = _mm_mul_ps(channel(16), a);
            _MM_TRANSPOSE4_PS(r, g, b, a);
            _mm_storeu_ps(out + 16 * h, r);
            _mm_storeu_ps(out + 16 * h + 4, g);
            _mm_storeu_ps(out + 16 * h + 8, b);
            _mm_storeu_ps(out + 16 * h + 12, a);
        }
    }
    static I32 magnitudeBelow(const F32& a, float limit) {
        const __m128 sign = _mm_set1_ps(-0.0f), l = _mm_set1_ps(limit);
        return {_mm_castps_si128(_mm_cmplt_ps(_mm_andnot_ps(sign, a.lo), l)),
                _mm_castps_si128(_mm_cmplt_ps(_mm_andnot_ps(sign, a.hi), l))};
    }
    static I32 nearest(const F32& a) { return {_mm_cvtps_epi32(a.lo), _mm_cvtps_epi32(a.hi)}; }
    // Unsigned compare by moving both sides down by 2^31.
    static unsigned withinBits(const I32& a, int32_t n) {
        const __m128i flip = _mm_set1_epi32(INT32_MIN);
        const __m128i limit = _mm_xor_si128(_mm_set1_epi32(n), flip);
        return signBits({_mm_cmplt_epi32(_mm_xor_si128(a.lo, flip), limit),
                         _mm_cmplt_epi32(_mm_xor_si128(a.hi, flip), limit)});
    }
};

} // namespace lumo::lanes
