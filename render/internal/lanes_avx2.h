#pragma once
// The 8-lane operations of lanes.h in one AVX2 register per tile row. Compiled
// for AVX2 whatever the build's target (the pragma below), so only code that
// runs after the processor has been asked (render/simd.h) may call them, from
// functions compiled for AVX2 too. Nothing here uses fused multiply-add.

#include <climits>
#include <cstdint>
#include <immintrin.h>

#pragma GCC push_options
#pragma GCC target("avx2")

namespace lumo::lanes {

struct Avx2 {
    struct I32 {
        __m256i v;
    };
    struct F32 {
        __m256 v;
    };
    struct Bytes {
        __m256i v;
    };

    static I32 splat(int32_t x) { return {_mm256_set1_epi32(x)}; }
    static I32 ramp(int32_t step) {
        const uint32_t s = uint32_t(step);
        return {_mm256_setr_epi32(0, int32_t(s), int32_t(2 * s), int32_t(3 * s), int32_t(4 * s),
                                  int32_t(5 * s), int32_t(6 * s), int32_t(7 * s))};
    }
    static I32 load(const int32_t* p) {
        return {_mm256_load_si256(reinterpret_cast<const __m256i*>(p))};
    }
    static void store(int32_t* p, const I32& a) {
        _mm256_store_si256(reinterpret_cast<__m256i*>(p), a.v);
    }
    static I32 add(const I32& a, const I32& b) { return {_mm256_add_epi32(a.v, b.v)}; }
    static I32 bitOr(const I32& a, const I32& b) { return {_mm256_or_si256(a.v, b.v)}; }
    static I32 bitAnd(const I32& a, const I32& b) { return {_mm256_and_si256(a.v, b.v)}; }
    static I32 greater(const I32& a, const I32& b) { return {_mm256_cmpgt_epi32(a.v, b.v)}; }
    static I32 select(const I32& mask, const I32& a, const I32& b) {
        return {_mm256_blendv_epi8(b.v, a.v, mask.v)};
    }
    static I32 min(const I32& a, const I32& b) { return {_mm256_min_epi32(a.v, b.v)}; }
    static I32 max(const I32& a, const I32& b) { return {_mm256_max_epi32(a.v, b.v)}; }
    static unsigned signBits(const I32& a) {
        return unsigned(_mm256_movemask_ps(_mm256_castsi256_ps(a.v)));
    }
    static I32 fromBits(unsigned bits) {
        const __m256i lanes = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
        const __m256i b = _mm256_and_si256(_mm256_set1_epi32(int32_t(bits)), lanes);
        return {_mm256_cmpeq_epi32(b, lanes)};
    }
    static int32_t minOf(const I32& a) {
        __m128i m = _mm_min_epi32(_mm256_castsi256_si128(a.v), _mm256_extracti128_si256(a.v, 1));
        m = _mm_min_epi32(m, _mm_shuffle_epi32(m, _MM_SHUFFLE(1, 0, 3, 2)));
        m = _mm_min_epi32(m, _mm_shuffle_epi32(m, _MM_SHUFFLE(2, 3, 0, 1)));
        return _mm_cvtsi128_si32(m);
    }
    static int32_t maxOf64(const int32_t* v) {
        const __m256i* p = reinterpret_cast<const __m256i*>(v);
        __m256i m0 = _mm256_max_epi32(_mm256_load_si256(p), _mm256_load_si256(p + 1));
        __m256i m1 = _mm256_max_epi32(_mm256_load_si256(p + 2), _mm256_load_si256(p + 3));
        __m256i m2 = _mm256_max_epi32(_mm256_load_si256(p + 4), _mm256_load_si256(p + 5));
        __m256i m3 = _mm256_max_epi32(_mm256_load_si256(p + 6), _mm256_load_si256(p + 7));
        const __m256i m = _mm256_max_epi32(_mm256_max_epi32(m0, m1), _mm256_max_epi32(m2, m3));
        __m128i h = _mm_max_epi32(_mm256_castsi256_si128(m), _mm256_extracti128_si256(m, 1));
        h = _mm_max_epi32(h, _mm_shuffle_epi32(h, _MM_SHUFFLE(1, 0, 3, 2)));
        h = _mm_max_epi32(h, _mm_shuffle_epi32(h, _MM_SHUFFLE(2, 3, 0, 1)));
        return _mm_cvtsi128_si32(h);
    }
    // The packs work within each 128-bit half: rows come out as 4-byte groups
    // (r0 lo, r1 lo, r2 lo, r3 lo | r0 hi, r1 hi, r2 hi, r3 hi); one permute puts
    // each row's halves back together.
    static Bytes packRows(const I32& r0, const I32& r1, const I32& r2, const I32& r3) {
        const __m256i words =
            _mm256_packs_epi16(_mm256_packs_epi32(r0.v, r1.v), _mm256_packs_epi32(r2.v, r3.v));
        return {_mm256_permutevar8x32_epi32(words, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7))};
    }
    static Bytes zeroBytes() { return {_mm256_setzero_si256()}; }
    static Bytes loadBytes(const uint8_t* p) {
        return {_mm256_load_si256(reinterpret_cast<const __m256i*>(p))};
    }
    static void storeBytes(uint8_t* p, const Bytes& b) {
        _mm256_store_si256(reinterpret_cast<__m256i*>(p), b.v);
    }
    static Bytes addBytes(const Bytes& a, const Bytes& b) { return {_mm256_add_epi8(a.v, b.v)}; }
    static Bytes subBytes(const Bytes& a, const Bytes& b) { return {_mm256_sub_epi8(a.v, b.v)}; }
    static uint64_t sumBytes(const Bytes& b) {
        const __m256i s = _mm256_sad_epu8(b.v, _mm256_setzero_si256());
        const __m128i h = _mm_add_epi64(_mm256_castsi256_si128(s), _mm256_extracti128_si256(s, 1));
        return uint64_t(_mm_cvtsi128_si64(h)) + uint64_t(_mm_extract_epi64(h, 1));
    }

    // Pixels i and i + 4 share a register, so the 4 x 4 transposes of the two
    // halves run at once.
    static void transpose(const float* v4, F32& x, F32& y, F32& z) {
        __m256 a = _mm256_loadu2_m128(v4 + 16, v4), b = _mm256_loadu2_m128(v4 + 20, v4 + 4),
               c = _mm256_loadu2_m128(v4 + 24, v4 + 8), d = _mm256_loadu2_m128(v4 + 28, v4 + 12);
        const __m256 ab0 = _mm256_unpacklo_ps(a, b), ab1 = _mm256_unpackhi_ps(a, b);
        const __m256 cd0 = _mm256_unpacklo_ps(c, d), cd1 = _mm256_unpackhi_ps(c, d);
        x.v = _mm256_castpd_ps(_mm256_unpacklo_pd(_mm256_castps_pd(ab0), _mm256_castps_pd(cd0)));
        y.v = _mm256_castpd_ps(_mm256_unpackhi_pd(_mm256_castps_pd(ab0), _mm256_castps_pd(cd0)));
        z.v = _mm256_castpd_ps(_mm256_unpacklo_pd(_mm256_castps_pd(ab1), _mm256_castps_pd(cd1)));
    }
    static F32 splatF(float x) { return {_mm256_set1_ps(x)}; }
    static F32 loadF(const float* p) { return {_mm256_load_ps(p)}; }
    static void storeF(float* p, const F32& a) { _mm256_store_ps(p, a.v); }
    static F32 mul(const F32& a, const F32& b) { return {_mm256_mul_ps(a.v, b.v)}; }
    static F32 div(const F32& a, const F32& b) { return {_mm256_div_ps(a.v, b.v)}; }
    static F32 addF(const F32& a, const F32& b) { return {_mm256_add_ps(a.v, b.v)}; }
    // out[i] = texels[(height - 1 - r_i) * width + s_i] in one gather; every
    // lane's index must lie inside the texture. (Only this path has it.)
    static void gatherTexels(const uint32_t* texels, const I32& s, const I32& r, int width,
                             int height, uint32_t* out) {
        const __m256i row = _mm256_sub_epi32(_mm256_set1_epi32(height - 1), r.v);
        const __m256i index =
            _mm256_add_epi32(_mm256_mullo_epi32(row, _mm256_set1_epi32(width)), s.v);
        _mm256_store_si256(reinterpret_cast<__m256i*>(out),
                           _mm256_i32gather_epi32(reinterpret_cast<const int*>(texels), index, 4));
    }
    static void unpackTexels(const uint32_t* p, float* out) {
        const __m256i t = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i byte = _mm256_set1_epi32(0xFF);
        auto channel = [&](int shift) {
            return _mm256_div_ps(
                _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(t, shift), byte)),
                _mm256_set1_ps(255.0f));
        };
        const __m256 a = channel(24);
        const __m256 r = _mm256_mul_ps(channel(0), a), g = _mm256_mul_ps(channel(8), a),
                     b = _mm256_mul_ps(channel(16), a);
        // Texels i and i + 4 share a register after the 4 x 4 transposes of
        // both halves; the cross-half permutes put them in order.
        const __m256 rg0 = _mm256_unpacklo_ps(r, g), rg1 = _mm256_unpackhi_ps(r, g);
        const __m256 ba0 = _mm256_unpacklo_ps(b, a), ba1 = _mm256_unpackhi_ps(b, a);
        const __m256 t0 = _mm256_shuffle_ps(rg0, ba0, 0x44), t1 = _mm256_shuffle_ps(rg0, ba0, 0xEE);
        const __m256 t2 = _mm256_shuffle_ps(rg1, ba1, 0x44), t3 = _mm256_shuffle_ps(rg1, ba1, 0xEE);
        _mm256_storeu_ps(out, _mm256_permute2f128_ps(t0, t1, 0x20));
        _mm256_storeu_ps(out + 8, _mm256_permute2f128_ps(t2, t3, 0x20));
        _mm256_storeu_ps(out + 16, _mm256_permute2f128_ps(t0, t1, 0x31));
        _mm256_storeu_ps(out + 24, _mm256_permute2f128_ps(t2, t3, 0x31));
    }
    static I32 magnitudeBelow(const F32& a, float limit) {
        const __m256 magnitude = _mm256_andnot_ps(_mm256_set1_ps(-0.0f), a.v);
        return {_mm256_castps_si256(_mm256_cmp_ps(magnitude, _mm256_set1_ps(limit), _CMP_LT_OQ))};
    }
    static I32 nearest(const F32& a) { return {_mm256_cvtps_epi32(a.v)}; }
    static unsigned withinBits(const I32& a, int32_t n) {
        const __m256i flip = _mm256_set1_epi32(INT32_MIN);
        const __m256i below = _mm256_cmpgt_epi32(_mm256_xor_si256(_mm256_set1_epi32(n), flip),
                                                 _mm256_xor_si256(a.v, flip));
        return signBits({below});
    }
};

} // namespace lumo::lanes

#pragma GCC pop_options
