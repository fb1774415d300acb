#pragma once
// The geometry loops' 8-lane kernels, for AVX2 processors only. The 4-lane code
// in pipeline.cpp is their reference, and the one-vector expressions it follows
// (mat44::transform's column order, normalize, a plane's distance) are the
// scalar twins: every lane runs their operations in their order, with no fused
// multiply-add, so the pools hold the same bits whichever path filled them.
// Each kernel takes whole groups of eight and returns how many entries it did;
// the caller finishes the rest with the 4-lane code.

#include "assets/mesh.h"
#include "math/vec.h"
#include "math/viewport.h"
#include "render/internal/pipeline.h"

#include <cstdint>

namespace lumo::geometry {

// View positions and unit normals of mesh vertices, and per vertex a bit per
// clipping plane (planes[0, kClipPlanes)) it lies outside of.
int transformVerticesAvx2(const MeshVertex* source, int count, const mat44& modelView,
                          const Plane* planes, PipelineVertex* out, uint8_t* outcodes);
// normalize(M * d) over the upper 3 x 3 block of M, w = 0.
int unitDirectionsAvx2(const vec4* source, int count, const mat44& m, vec4* out);
// Each vertex's screen position from its view position.
int projectAvx2(PipelineVertex* vertices, int count, const mat44& projection, const mat44& screen);
// The back-face test of eight faces: bit j set when face j, with eyeToFace[j]
// the vector from the eye to its first corner, is turned away. Writes the
// faces' unit normals.
unsigned facingAwayAvx2(const vec4 eyeToFace[8], const vec4 normals[8], const mat44& m,
                        vec4 unitNormals[8]);

} // namespace lumo::geometry
