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

// One pass of the tent filter of radius r >= 1 over count samples spaced stride
// apart, from in to out (which must not overlap); ring holds 2r + 1 entries.
// The scalar twin is also the SSE path's kernel.
void tentLineScalar(const vec4* in, vec4* out, int count, size_t stride, int r, vec4* ring);

// The same over lines lines, line k starting at in + k * lineStep (and out +
// k * lineStep); ring holds kTentLinesInStep * (2r + 1) entries.
inline constexpr int kTentLinesInStep = 4;
void tentLinesAvx2(const vec4* in, vec4* out, int lines, size_t lineStep, int count, size_t stride,
                   int r, vec4* ring);

} // namespace lumo::finalpass
