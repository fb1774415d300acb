#pragma once
// The colour buffer's non-triangle operations. Per band, on the workers: clear,
// band markers, and the resolve into the XRGB8888 canvas. On the main thread,
// between frames: the tent blur and the overlay composite.
//
// Resolve of one channel c with exposure b: v = (c + b) * 256 in single
// precision, capped at 255 (NaN gives 255), rounded to nearest with ties to
// even, clamped at 0. The scale is 256, not 255: 1.0 already gives 255.

#include "render/buffers.h"

#include <vector>

namespace lumo {

struct TextureImage;

void clearColorRows(ColorBuffer& color, int rowBegin, int rowEnd);

// Magenta (1, 0, 1, 0) over the first half of the band's last row, and of row 0
// for worker 0. An empty band marks nothing (its rows belong to other workers).
void markBands(ColorBuffer& color, int rowBegin, int rowEnd, int workerIndex);

// Rows [rowBegin, rowEnd) of color into canvas rows moved down by rowOffset.
// Rows and columns that fall outside either buffer are skipped.
void resolveRows(const ColorBuffer& color, Canvas& canvas, int rowBegin, int rowEnd, int rowOffset,
                 float bias);

uint32_t resolvePixel(const vec4& c, float bias);

// Tent blur of radius r (weights r + 1 - |i| over (r + 1)^2), horizontal then
// vertical, clamped at the borders, constant time per pixel. r < 1 does nothing;
// so does a failed allocation of the temporary buffer (returns false).
bool blurColorBuffer(ColorBuffer& color, int radius);
// The same with the temporary rows kept by the caller: once grown, a blur of
// the same size allocates nothing.
struct BlurScratch {
    std::vector<vec4> temp, ring;
};
bool blurColorBuffer(ColorBuffer& color, int radius, BlurScratch& scratch);

// The same in parts, for the workers: blurPrepare grows the scratch for that
// many parts at once (false: nothing to do, or no memory); then every row of
// blurRows must be done before any column of blurColumns. Part k of several
// uses ring k. Each line is filtered on its own, so any split gives the same
// bytes as the whole.
bool blurPrepare(const ColorBuffer& color, int radius, BlurScratch& scratch, int parts);
void blurRows(ColorBuffer& color, int radius, BlurScratch& scratch, int part, int begin, int end);
void blurColumns(ColorBuffer& color, int radius, BlurScratch& scratch, int part, int begin,
                 int end);

// Blends a premultiplied RGBA image at (x0, y0) with opacity a:
// d.rgb = d.rgb (1 - a) + (d.rgb (1 - s.a) + s.rgb) a; destination alpha kept.
// Rows and columns outside the buffer are clipped.
void compositeOverlay(ColorBuffer& color, const TextureImage& image, int x0, int y0, float a);

} // namespace lumo
