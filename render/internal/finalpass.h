#pragma once
// The colour buffer's non-triangle operations. Per band, on the workers: clear,
// band markers, and the resolve into the XRGB8888 canvas. On the main thread,
// between frames: the tent blur and the overlay composite.
//
// Resolve of one channel c with exposure b: v = (c + b) * 256 in single
// precision, capped at 255 (NaN gives 255), rounded to nearest with ties to
// even, clamped at 0. The scale is 256, not 255: 1.0 already gives 255.

#include "render/buffers.h"
#include "render/internal/finalpass_lanes.h"

#include <vector>

namespace lumo {

struct TextureImage;

// The picture: the colour buffer's top-left width x height pixels, the rest
// being padding up to whole tiles. Sizes beyond the buffer are cut to it.
struct Extent {
    int width = 0, height = 0;
};
inline Extent wholeBuffer(const ColorBuffer& color) {
    return {color.width, color.height};
}

void clearColorRows(ColorBuffer& color, int rowBegin, int rowEnd);

// Magenta (1, 0, 1, 0) over the first half of the band's last `thickness`
// picture rows, and of the picture's first ones for worker 0. An empty band
// marks nothing (its rows belong to other workers); marks stay in their band.
void markBands(ColorBuffer& color, Extent picture, int rowBegin, int rowEnd, int workerIndex,
               int thickness = 1);

// Rows [rowBegin, rowEnd) of the picture into the canvas, the picture's
// top-left pixel at canvas pixel (left, top). Whatever falls outside the
// picture or the canvas is skipped.
void resolveRows(const ColorBuffer& color, Extent picture, Canvas& canvas, int left, int top,
                 int rowBegin, int rowEnd, float bias);

uint32_t resolvePixel(const vec4& c, float bias);

// Tent blur of radius r (weights r + 1 - |i| over (r + 1)^2), horizontal then
// vertical, clamped at the picture's borders, constant time per pixel. r < 1
// does nothing; so does a failed allocation of the temporary buffer (returns
// false). Without a picture: the whole buffer.
bool blurColorBuffer(ColorBuffer& color, int radius);
// The same with the temporary rows kept by the caller: once grown, a blur of
// the same size allocates nothing.
struct BlurScratch {
    AlignedVector<vec4> temp;
    std::vector<finalpass::RingSample> ring;
};
bool blurColorBuffer(ColorBuffer& color, Extent picture, int radius, BlurScratch& scratch);

// The same in parts, for the workers: blurPrepare grows the scratch for that
// many parts at once (false: nothing to do, or no memory); then every row of
// blurRows must be done before any column of blurColumns. Part k of several
// uses ring k. Each line is filtered on its own, so any split gives the same
// bytes as the whole.
bool blurPrepare(const ColorBuffer& color, Extent picture, int radius, BlurScratch& scratch,
                 int parts);
void blurRows(ColorBuffer& color, Extent picture, int radius, BlurScratch& scratch, int part,
              int begin, int end);
void blurColumns(ColorBuffer& color, Extent picture, int radius, BlurScratch& scratch, int part,
                 int begin, int end);

// Blends a premultiplied RGBA image at (x0, y0) with opacity a:
// d.rgb = d.rgb (1 - a) + (d.rgb (1 - s.a) + s.rgb) a; destination alpha kept.
// Rows and columns outside the picture are clipped.
void compositeOverlay(ColorBuffer& color, Extent picture, const TextureImage& image, int x0, int y0,
                      float a);
// The same for picture rows [rowBegin, rowEnd) only: parts that split the
// rows give the bytes of the whole.
void compositeOverlayRows(ColorBuffer& color, Extent picture, const TextureImage& image, int x0,
                          int y0, float a, int rowBegin, int rowEnd);
// The picture rows [begin, end) that the image covers at y0 (empty: none).
struct RowSpan {
    int begin = 0, end = 0;
};
RowSpan overlayRows(Extent picture, const TextureImage& image, int y0);

} // namespace lumo
