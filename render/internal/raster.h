#pragma once
// The tile rasterizer. One skeleton scan-converts a screen-space triangle over
// 8 x 8 tiles of a band of whole tile rows; nine members differ only in what they
// do with a covered pixel (see Member). Fixed-point conventions: render/fixed.h.
//
// A triangle is drawn in three steps (raster.cpp): TriangleSetup computes once
// what the walk needs (the snapped edges with their trivial-reject and
// trivial-accept limits, the integer depth plane and up to two vec4 attribute
// planes); walkTileRuns finds, in each of the band's tile rows, the run of
// tiles the triangle touches and which of them it fully covers; drawTile
// consults the depth tile's bounds before any per-pixel work, then runs the
// member's operation on the pixels that pass coverage and depth.
//
// Band-layout independence: depth and attribute stepping start from the
// triangle's own origin (its first tile column and first tile row of the whole
// picture), never from the band's, so any split of the picture into bands gives
// the same bytes. Integer depths are stepped exactly from that origin; float
// attributes are evaluated from their plane at each tile's top-left pixel and
// stepped by addition only inside the tile.
//
// Degenerate input: a triangle whose float area is not negative draws nothing;
// so does one with a vertex outside the guard band or not finite.

#include "math/vec.h"
#include "render/buffers.h"
#include "render/internal/lighting.h"

#include <cstdint>

namespace lumo {

struct TextureImage;

enum class Member : int {
    Flat,             // colour := constant
    Gouraud,          // colour := interpolated
    GouraudAdd,       // colour += interpolated
    GouraudAddMasked, // colour += interpolated where stencil = 0
    LitAll,           // colour := per-pixel lighting from all lights
    LitOneMasked,     // colour += per-pixel lighting from one light where stencil = 0
    Textured,         // colour := nearest texel, perspective-correct
    StencilIncrement, // depth-fail: stencil += 1
    StencilDecrement, // depth-fail: stencil -= 1
    Count
};

// Per-worker counters; a null pointer in RasterTarget costs one test per tile.
struct RasterStats {
    uint64_t triangles = 0; // triangles that reached the tile walk
    uint64_t pixels = 0;    // pixels that passed coverage and depth (shading) or were counted
};

struct RasterTarget {
    ColorBuffer* color = nullptr;     // shading members
    DepthBuffer* depth = nullptr;     // all members
    StencilBuffer* stencil = nullptr; // masked members (null: every count is 0), stencil members
    int rowBegin = 0, rowEnd = 0;     // the band; only its whole tile rows are touched
    RasterStats* stats = nullptr;
};

// Everything a member may read besides the three screen vertices. Which fields
// matter depends on the member; the others are ignored.
struct RasterInputs {
    vec4 screen[3];   // pixel x, pixel y, normalised depth
    vec4 color[3];    // Flat: color[0]; Gouraud members: per vertex
    vec4 position[3]; // view space (LitAll, LitOneMasked; z for perspective in Textured)
    vec4 normal[3];   // view space (LitAll, LitOneMasked)
    vec4 texcoord[3]; // u, v in x, y (Textured)
    const TextureImage* texture = nullptr; // Textured
    const Light* light = nullptr;          // LitOneMasked
    Light* const* lights = nullptr;        // LitAll
    int lightCount = 0;                    // LitAll
    float ambient = 0.0f;                  // LitAll
    vec4 diffuse;                          // material diffuse colour (LitOneMasked)
    float shininess = 8.0f;                // LitAll, LitOneMasked
};

// Draws with the active vector path (render/simd.h); every path gives the same bytes.
void rasterize(Member member, const RasterTarget& target, const RasterInputs& inputs);

// One vector path's members in Member's order: the AVX2 table comes from its
// own source file, compiled for that processor feature.
using RasterFunction = void (*)(const RasterTarget&, const RasterInputs&);
const RasterFunction* rasterMembersAvx2();

// Fast paths (whole-tile fill and rejection from the depth tile bounds) can be
// switched off to compare pictures: the colour and depth values must not change.
// Only change it while no worker is drawing.
void setRasterFastPaths(bool enabled);
bool rasterFastPaths();

// Sum of lightVertex over the lights, componentwise, in table order.
LightResult lightVertexAll(Light* const* lights, int lightCount, const vec4& p, const vec4& n,
                           float shininess);

// Nearest texel index along one axis of size n for coordinate c (wraps).
int wrapTexel(float c, int n);

} // namespace lumo
