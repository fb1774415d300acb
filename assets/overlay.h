#pragma once
// Overlay images (titles, end texts) for pictures of any size. A picture s times
// 640 x 360 draws each overlay at s times its 1x size. Every overlay comes at 1x
// ("t1.png", loaded into the texture store with its directory) and at 3x
// ("t1@3x.png", which the store skips): the one nearer in scale is resampled to
// the size asked for, so large pictures get sharp text instead of enlarged 1x texels.

#include "assets/texture.h"

#include <cstdint>
#include <memory>
#include <string>

namespace lumo {

// The largest image resampleImage makes: 1 GiB of float texels.
constexpr uint64_t kMaxResampleTexels = uint64_t(1) << 26;

// source resampled to width x height. The premultiplied texels are filtered as
// they are: that keeps a transparent neighbour from darkening an edge. Each axis
// on its own: where the size shrinks, a texel is the average of the source span
// it covers (a box as wide as the scale factor, so nothing is skipped); where it
// grows, a tent over the two nearest texel centres (bilinear), with centres lined
// up ((x + 0.5) * source / size - 0.5) and the edge texels repeated beyond the
// edges. Sums are in double and rounded to float once, so a constant image stays
// exactly constant and every machine gets the same bits. `packed` stays empty.
// An empty or malformed source, or a size below 1 or above kMaxResampleTexels,
// gives an empty (0 x 0) image.
TextureImage resampleImage(const TextureImage& source, int width, int height);

// The image of overlay `name` (as in the store, "t1.png") to draw at `scale` times
// its 1x size: round(w1 * scale) x round(h1 * scale), at least 1 x 1, where
// w1 x h1 is the 1x image's size (or the 3x image's size / 3 when there is no 1x
// image). It comes from the 1x image (store.find(name)) or the 3x one, read from
// directory + "t1@3x.png" (directory ending in "/", as for loadTexture) and not
// kept, whichever's scale is nearer to `scale` (at 2 the 3x one). An image that
// has the size already comes back as an exact copy, so scale 1 gives the 1x
// texels bit for bit. A missing 3x file means the 1x image; no usable image
// (missing, or empty after a failed decode), a scale that is not a positive
// number or a size above kMaxResampleTexels give nullptr.
std::unique_ptr<TextureImage> overlayForScale(const TextureStore& store,
                                              const std::string& directory, const std::string& name,
                                              double scale);

} // namespace lumo
