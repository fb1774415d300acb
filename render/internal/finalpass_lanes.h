#pragma once
// The final pass's kernels, one per vector path, beside the plain scalar twins
// that say what each must compute. Every kernel gives the same bits as its
// twin; the tests hold them against each other. The public functions in
// finalpass.h pick the kernel of the active path.

#include "math/vec.h"

#include <cstddef>
#include <cstdint>

namespace lumo::finalpass {

// The resolve of one pixel, channel by channel, as finalpass.h describes it.
uint32_t resolvePixelScalar(const vec4& c, float bias);

// dst[i] = the resolve of src[i] for i in [0, count).
void resolveScalar(const vec4* src, uint32_t* dst, size_t count, float bias);
void resolveSse(const vec4* src, uint32_t* dst, size_t count, float bias);
void resolveAvx2(const vec4* src, uint32_t* dst, size_t count, float bias); // AVX2 processors only
// The same with dst written past the cache, for canvases far larger than it:
// writing through the cache first reads every line it replaces.
void resolveAvx2Streamed(const vec4* src, uint32_t* dst, size_t count, float bias);

// A sample of the tent filter's window as its sums take it, in double. The
// ring keeps each sample so from its entry to its exit: widening it again at
// the centre and at the exit cost a quarter of the filter's time.
struct alignas(32) RingSample {
    double x, y, z, w;
};

// One pass of the tent filter of radius r >= 1 over count samples spaced stride
// apart, from in to out (which must not overlap); ring holds 2r + 1 entries.
// The scalar twin is also the SSE path's kernel.
void tentLineScalar(const vec4* in, vec4* out, int count, size_t stride, int r, RingSample* ring);

// The same for the AVX2 path, which keeps the rows' results in column blocks:
// block b holds columns 4b to 4b + 3, row after row, pixel (x, y) at
// blocks[(x / 4) * blockSize + 4 * y + x % 4] (blockSize: at least 4 times the
// rows). Then the rows pass writes whole lines of four pixels and the columns
// pass reads each block straight through, where a column of a row-major buffer
// would take one cache line from every row. ring holds
// kTentLinesInStep * (2r + 1) entries. With stream, results are written past
// the cache: worth it for pictures larger than the cache, which would only
// push out what the next steps read and read memory they are about to replace.
inline constexpr int kTentLinesInStep = 4;
// Rows k in [0, rows) of count pixels at in + k * inStride, into blocks from
// row 0 (the caller passes blocks + 4 * its first row).
void tentRowsAvx2(const vec4* in, size_t inStride, int rows, int count, vec4* blocks,
                  size_t blockSize, int r, RingSample* ring, bool stream);
// Columns [begin, end) of count rows from the blocks, to out + x + y * outStride.
void tentColumnsAvx2(const vec4* blocks, size_t blockSize, int begin, int end, int count, vec4* out,
                     size_t outStride, int r, RingSample* ring, bool stream);

} // namespace lumo::finalpass
