// The final pass's 8-lane kernels. The file is built for the x86-64 baseline
// like every other: only the code between the target pragmas may use AVX2, so
// no inline function from a shared header is ever compiled with it (the linker
// could keep that copy for the SSE path too). Every lane computes what the
// scalar twin in finalpass.cpp computes, in the same order; no fused
// multiply-add.

#include "render/internal/finalpass_lanes.h"

#include <immintrin.h>

#pragma GCC push_options
#pragma GCC target("avx2")

namespace lumo::finalpass {

namespace {

// Resolves eight pixels held two to a register. AVX2 packs within each
// 128-bit half, so the packed words come out as pixels 0 2 4 6 | 1 3 5 7,
// each red, green, blue, alpha: a byte shuffle turns every word into XRGB
// order and a word permutation puts the pixels back in line.
struct Resolve8 {
    __m256 bias, scale = _mm256_set1_ps(256.0f), cap = _mm256_set1_ps(255.0f);
    __m256i toXrgb = _mm256_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15, //
                                      2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15);
    __m256i inLine = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);

    explicit Resolve8(float b) : bias(_mm256_set1_ps(b)) {}

    // MINPS gives its second operand for NaN: 255. The conversion rounds to
    // nearest even and gives INT_MIN below the int range; the packs saturate.
    __m256i channels(__m256 v) const {
        v = _mm256_mul_ps(_mm256_add_ps(v, bias), scale);
        return _mm256_cvtps_epi32(_mm256_min_ps(v, cap));
    }
    __m256i operator()(__m256 p01, __m256 p23, __m256 p45, __m256 p67) const {
        const __m256i low = _mm256_packs_epi32(channels(p01), channels(p23));
        const __m256i high = _mm256_packs_epi32(channels(p45), channels(p67));
        const __m256i bytes = _mm256_packus_epi16(low, high);
        return _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(bytes, toXrgb), inLine);
    }
};

// With kStream the words go past the cache (streaming stores), which write
// only whole aligned 32-byte blocks: the pixels before dst's first such block
// are resolved on their own, as the last few are.
template <bool kStream>
void resolveLanes(const vec4* src, uint32_t* dst, size_t count, float bias) {
    const Resolve8 resolve(bias);
    const float* in = &src->x;
    // Pixels [i, i + n) for n < 8: masked lanes neither load nor store.
    auto few = [&](size_t i, size_t n) {
        const __m256i left = _mm256_set1_epi32(int(n));
        const __m256i pixelOfLane = _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1);
        auto load = [&](int first) {
            const __m256i mask =
                _mm256_cmpgt_epi32(left, _mm256_add_epi32(pixelOfLane, _mm256_set1_epi32(first)));
            return _mm256_maskload_ps(in + 4 * (i + first), mask);
        };
        const __m256i words = resolve(load(0), load(2), load(4), load(6));
        const __m256i mask = _mm256_cmpgt_epi32(left, _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
        _mm256_maskstore_epi32(reinterpret_cast<int*>(dst + i), mask, words);
    };
    size_t i = 0;
    if constexpr (kStream) {
        const size_t head = ((32 - (reinterpret_cast<uintptr_t>(dst) & 31)) & 31) / 4;
        i = head < count ? head : count;
        if (i > 0) {
            few(0, i);
        }
    }
    for (; i + 8 <= count; i += 8) {
        const float* p = in + 4 * i;
        const __m256i words = resolve(_mm256_loadu_ps(p), _mm256_loadu_ps(p + 8),
                                      _mm256_loadu_ps(p + 16), _mm256_loadu_ps(p + 24));
        if constexpr (kStream) {
            _mm256_stream_si256(reinterpret_cast<__m256i*>(dst + i), words);
        } else {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), words);
        }
    }
    if (i < count) {
        few(i, count - i);
    }
    if constexpr (kStream) {
        _mm_sfence(); // the streamed words are in memory before anybody reads them
    }
}

} // namespace

void resolveAvx2(const vec4* src, uint32_t* dst, size_t count, float bias) {
    resolveLanes<false>(src, dst, count, bias);
}

void resolveAvx2Streamed(const vec4* src, uint32_t* dst, size_t count, float bias) {
    resolveLanes<true>(src, dst, count, bias);
}

namespace {

// K lines in step, each with its own sums: one line's sums form a chain of
// dependent additions per sample, and K chains side by side keep the adders
// busy. Sample i of line k is in[k * lineStep + i * stride]; the result of
// sample i goes where the cursor points for line k after i steps. The ring
// holds 2r + 1 slots of the K lines' samples side by side, in double.
//
// Everything that moves along the lines is a pointer bumped a step at a time,
// and only the last r + 1 samples clamp at the line's end: computing each
// address from the sample's index cost more than the sums.
//
// With kStream the results bypass the cache (streaming stores): writing them
// costs no read of the memory they replace, and they do not push out what the
// next steps read. K lines side by side write whole cache lines of results, as
// streaming needs.
template <int K, bool kStream, class Cursor>
void tentLines(const vec4* in, size_t lineStep, int count, size_t stride, int r, RingSample* ring,
               Cursor out) {
    const int ringSize = 2 * r + 1;
    auto load = [lineStep](const vec4* sample, int k) {
        return _mm_load_ps(&sample[size_t(k) * lineStep].x);
    };
    // No std::clamp or std::abs here: a template instantiated in this file
    // could be merged with the baseline copy of another.
    auto sampleAt = [&](int i) {
        return in + size_t(i < 0 ? 0 : i < count ? i : count - 1) * stride;
    };
    const __m256d one = _mm256_set1_pd(1.0), minusOne = _mm256_set1_pd(-1.0);
    __m256d weighted[K], left[K], right[K];
    for (int k = 0; k < K; ++k) {
        weighted[k] = left[k] = right[k] = _mm256_setzero_pd();
    }
    for (int i = -r; i <= r; ++i) {
        const __m256d w = _mm256_set1_pd(double(r + 1 - (i < 0 ? -i : i)));
        const vec4* sample = sampleAt(i);
#pragma GCC unroll 8
        for (int k = 0; k < K; ++k) {
            const __m256d sd = _mm256_cvtps_pd(load(sample, k));
            _mm256_store_pd(&ring[(i + r) * K + k].x, sd);
            weighted[k] = _mm256_add_pd(weighted[k], _mm256_mul_pd(_mm256_mul_pd(sd, w), one));
            if (i <= 0) {
                left[k] = _mm256_add_pd(left[k], sd);
            } else {
                right[k] = _mm256_add_pd(right[k], sd);
            }
        }
    }
    const __m256d norm = _mm256_set1_pd(double(r + 1) * double(r + 1));
    RingSample* const ringEnd = ring + ringSize * K;
    RingSample* oldest = ring;                     // the slot of sample x - r
    RingSample* centre = ring + size_t(r + 1) * K; // the slot of sample x + 1
    // One step: the result of sample x, then the window moves from x to x + 1.
    auto step = [&](const vec4* entering) __attribute__((always_inline)) {
        // Unrolled, so that each line's sums stay in registers: left as a loop
        // over k, they live in memory and every addition waits on a store.
#pragma GCC unroll 8
        for (int k = 0; k < K; ++k) {
            const __m128 result = _mm256_cvtpd_ps(_mm256_div_pd(weighted[k], norm));
            if constexpr (kStream) {
                _mm_stream_ps(out.at(k), result);
            } else {
                _mm_store_ps(out.at(k), result);
            }
            const __m256d enteringD = _mm256_cvtps_pd(load(entering, k));
            const __m256d leaving = _mm256_load_pd(&oldest[k].x);
            const __m256d centreNext = _mm256_load_pd(&centre[k].x);
            weighted[k] = _mm256_add_pd(weighted[k], _mm256_mul_pd(left[k], minusOne));
            weighted[k] = _mm256_add_pd(weighted[k], _mm256_mul_pd(right[k], one));
            weighted[k] = _mm256_add_pd(weighted[k], enteringD);
            left[k] = _mm256_add_pd(_mm256_sub_pd(left[k], leaving), centreNext);
            right[k] = _mm256_add_pd(_mm256_sub_pd(right[k], centreNext), enteringD);
            _mm256_store_pd(&oldest[k].x, enteringD);
        }
        out.next();
        oldest = oldest + K == ringEnd ? ring : oldest + K;
        centre = centre + K == ringEnd ? ring : centre + K;
    };
    // Sample x + r + 1 enters: inside the line for x < count - r - 1, then
    // the last sample again.
    const int inside = count - r - 1;
    int x = 0;
    if (inside > 0) {
        for (const vec4* entering = in + size_t(r + 1) * stride; x < inside;
             ++x, entering += stride) {
            step(entering);
        }
    }
    const vec4* last = sampleAt(count - 1);
    for (; x < count; ++x) {
        step(last);
    }
}

// Where the rows pass puts results: column blocks, line k of the step four
// pixels after line k - 1, a new block every four samples.
struct BlockCursor {
    float* at_;
    size_t blockJump; // floats from the end of a block's row to the next block
    int phase = 0;    // the sample's place in its group of four

    float* at(int k) const { return at_ + 16 * k; }
    void next() {
        at_ += 4;
        if (++phase == 4) {
            phase = 0;
            at_ += blockJump;
        }
    }
};

// Where the columns pass puts results: row-major pixels, the K lines side by
// side, a row further each sample.
struct RowCursor {
    float* at_;
    size_t rowFloats;

    float* at(int k) const { return at_ + 4 * k; }
    void next() { at_ += rowFloats; }
};

} // namespace

void tentRowsAvx2(const vec4* in, size_t inStride, int rows, int count, vec4* blocks,
                  size_t blockSize, int r, RingSample* ring, bool stream) {
    int k = 0;
    auto into = [&](int row) {
        return BlockCursor{&blocks[4 * size_t(row)].x, 4 * (blockSize - 4)};
    };
    for (; k + kTentLinesInStep <= rows; k += kTentLinesInStep) {
        if (stream) {
            tentLines<kTentLinesInStep, true>(in + size_t(k) * inStride, inStride, count, 1, r,
                                              ring, into(k));
        } else {
            tentLines<kTentLinesInStep, false>(in + size_t(k) * inStride, inStride, count, 1, r,
                                               ring, into(k));
        }
    }
    for (; k < rows; ++k) {
        tentLines<1, false>(in + size_t(k) * inStride, inStride, count, 1, r, ring, into(k));
    }
    _mm_sfence(); // the streamed results are in memory before anybody reads them
}

void tentColumnsAvx2(const vec4* blocks, size_t blockSize, int begin, int end, int count, vec4* out,
                     size_t outStride, int r, RingSample* ring, bool stream) {
    auto into = [&](int x) { return RowCursor{&out[x].x, 4 * outStride}; };
    auto column = [&](int x) {
        tentLines<1, false>(blocks + size_t(x >> 2) * blockSize + (x & 3), 1, count, 4, r, ring,
                            into(x));
    };
    int x = begin;
    for (; x < end && (x & 3) != 0; ++x) {
        column(x);
    }
    for (; x + kTentLinesInStep <= end; x += kTentLinesInStep) {
        const vec4* block = blocks + size_t(x >> 2) * blockSize;
        if (stream) {
            tentLines<kTentLinesInStep, true>(block, 1, count, 4, r, ring, into(x));
        } else {
            tentLines<kTentLinesInStep, false>(block, 1, count, 4, r, ring, into(x));
        }
    }
    for (; x < end; ++x) {
        column(x);
    }
    _mm_sfence();
}

} // namespace lumo::finalpass

#pragma GCC pop_options
