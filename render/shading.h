#pragma once
// Shading: walks the pipeline's sorted faces for one band and pass and draws each
// with the rasterizer member its material's shader type asks for.
//
//   shaderType  ambient pass (1)                        light pass (2)
//   -1 untextured  Flat, diffuse x ambient             per-vertex light (GouraudAdd, or
//                                                      GouraudAddMasked with a stencil),
//                                                      per-pixel LitOneMasked when switched on
//   -1 textured    Textured (unlit)                     nothing
//    1             nothing (invisible; may cast shadows) nothing
//    4             LitAll                               the same again
//    5             Gouraud, lit by all lights           the same again
//   55             GouraudAdd, lit by all lights        added again in every light pass
//   other          "unknown shader type %d"             the same line

#include "render/buffers.h"
#include "render/pipeline.h"
#include "render/raster.h"

namespace lumo {

// pass 1: ambient (lightIndex ignored, stencil ignored); pass 2: the light
// pipeline.lights[lightIndex], lit where the stencil count is 0 (no stencil:
// everywhere).
void shadeFaces(const Pipeline& pipeline, int pass, int rowBegin, int rowEnd, ColorBuffer& color,
                DepthBuffer& depth, StencilBuffer* stencil, int lightIndex,
                RasterStats* stats = nullptr);

} // namespace lumo
