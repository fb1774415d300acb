#pragma once
// Shading: walks the pipeline's sorted faces for one band and pass and draws each
// with the rasterizer member its material's shader type asks for.
//
//   ShaderType          ambient pass                          light pass
//   Plain, untextured   Flat, diffuse x ambient               per-vertex light (GouraudAdd, or
//                                                             GouraudAddMasked with a stencil),
//                                                             per-pixel LitOneMasked when on
//   Plain, textured     Textured (unlit)                      nothing
//   Invisible (1)       nothing (may cast shadows)            nothing
//   LitAll (4)          LitAll                                the same again
//   GouraudAll (5)      Gouraud, lit by all lights            the same again
//   Additive (55)       GouraudAdd, lit by all lights         added again in every light pass
//   any other number    "unknown shader type %d"              the same line

#include "render/buffers.h"
#include "render/internal/pipeline.h"
#include "render/internal/raster.h"

#include <cstdint>
#include <vector>

namespace lumo {

// Per-vertex lighting of one shading call, remembered per pool vertex: a vertex
// is a corner of about six faces, and lighting it once instead of at every
// corner gives the same values (the same computation on the same inputs). A
// value is reused only for the same call, normal and material. One per worker.
class VertexColorCache {
public:
    // Starts a shading call over a pool of vertexCount vertices.
    void begin(int vertexCount);

    // The cached colour of vertex v for (normal, material), or null.
    const vec4* find(int v, int normal, const Material* material) const {
        const Entry& e = entries_[size_t(v)];
        return e.stamp == stamp_ && e.normal == normal && e.material == material ? &e.color
                                                                                 : nullptr;
    }
    void store(int v, int normal, const Material* material, const vec4& color) {
        Entry& e = entries_[size_t(v)];
        e.color = color;
        e.stamp = stamp_;
        e.normal = normal;
        e.material = material;
    }

private:
    struct alignas(32) Entry {
        vec4 color;
        uint32_t stamp = 0;
        int32_t normal = 0;
        const Material* material = nullptr;
    };
    std::vector<Entry> entries_;
    uint32_t stamp_ = 0;
};

// The two kinds of pass over a band's faces: Ambient (lightIndex and stencil
// ignored), and Light: the light pipeline.lights[lightIndex], lit where the
// stencil count is 0 (no stencil: everywhere).
enum class Pass { Ambient, Light };

void shadeFaces(const Pipeline& pipeline, Pass pass, int rowBegin, int rowEnd, ColorBuffer& color,
                DepthBuffer& depth, StencilBuffer* stencil, int lightIndex,
                RasterStats* stats = nullptr, VertexColorCache* cache = nullptr);

} // namespace lumo
