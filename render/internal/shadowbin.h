#pragma once
// Counting shadow-volume triangles into the stencil (depth-fail). A bin is an
// array of screen-space vertices, three per triangle.

#include "math/vec.h"
#include "render/buffers.h"
#include "render/internal/raster.h"

namespace lumo {

// Counts every triangle of the bin into the band's stencil counts: triangles of
// positive y-down area increment (drawn reversed, so the rasterizer covers
// them), the others decrement. Only pixels whose stored depth is nearer than
// the volume face count.
void rasterizeShadowBin(const vec4* bin, int vertexCount, int rowBegin, int rowEnd,
                        StencilBuffer& stencil, DepthBuffer& depth, RasterStats* stats = nullptr);

} // namespace lumo
