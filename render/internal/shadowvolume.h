#pragma once
// Shadow volumes
//
// A point light's shadow behind a closed object is the region that the object
// hides from the light. It is bounded by three kinds of faces: the object's
// faces that look at the light (the near cap), the faces turned away from it,
// pushed along the light's rays to infinity (the far cap), and, along every
// silhouette edge (an edge between a face that looks at the light and one that
// does not), a quad that runs from the edge out to infinity (the sides). All of
// them keep the object's outward winding, so the volume is closed and every
// face of it is wound outward.
//
// Counting uses the depth-fail rule: for each pixel, every volume face that lies
// behind the visible surface counts +1 when it faces away from the camera and
// -1 when it faces the camera. A ray from the surface out to infinity leaves
// each volume it starts in once more than it enters, so the count is non-zero
// exactly where the surface lies inside a volume, wherever the camera is,
// including inside a volume itself. Depth-fail needs the far caps: nothing may
// be clipped away behind the surfaces. The projection has no far plane, and a
// far-cap vertex (x, y, z, 0) projects to the depth 1 exactly, so the far caps
// are always counted where they cover a surface. Near-plane clipping only cuts
// what lies in front of every surface, which depth-fail never counts.
//
// Work is split by faces: worker t builds the faces t, t + n, t + 2n, ... of
// every caster into its own bin, already clipped and mapped to the screen, so
// the builders share nothing. After the bins-ready barrier every worker counts
// all bins into its own band (render/internal/shadowbin.h). Stencil counts are modulo 256
// and addition is commutative, so the counts do not depend on how the faces were
// dealt out: any worker count gives the same bytes.
//
// Facing values come from each face's plane block (its own plane and those of
// its three neighbours, assets/mesh.h): (p - L) . n for the light L in object
// space. A positive value means the face is turned away from the light. A face
// and its neighbour evaluate the same plane with the same arithmetic, so both
// sides of a silhouette edge always agree which of them emits the side quad.
// A caster that failed the closedness check has all-zero plane blocks: all its
// faces count as looking at the light and it becomes a near cap alone.

#include "math/vec.h"
#include "math/viewport.h"
#include "sys/aligned.h"

namespace lumo {

struct MeshInstance;

// Largest polygon the clipper works on: a quad grows by at most one vertex per
// clipping plane, so 31 is ample.
constexpr int kShadowPolygonVertices = 31;
// Screen vertices one clipped triangle or quad can append (a fan of triangles).
constexpr int kShadowClipVertices = 3 * (kShadowPolygonVertices - 2);
// Screen vertices one face can append: its cap and up to three side quads.
constexpr int kShadowFaceVertices = 4 * kShadowClipVertices;

// A worker's shadow-volume triangles for one shadow-casting light: screen
// vertices (pixel x, pixel y, normalised depth, 1), three per triangle. Only its
// worker writes it, during the build phase; the vertex count lives beside it.
struct ShadowBin {
    AlignedVector<vec4> vertices; // capacity is vertices.size()

    explicit ShadowBin(int capacity = 0) : vertices(size_t(capacity > 0 ? capacity : 0)) {}
    int capacity() const { return int(vertices.size()); }
    // Makes room for `more` vertices after the first `count`, keeping them. The
    // bin only ever grows, so a later frame of the same size allocates nothing.
    void reserve(int count, int more);
};

// Clip-space polygons (x, y, z, w) are clipped against x = -w, x = w, y = -w,
// y = w and z = -w (no far plane) and appended to `out` as a fan of screen
// triangles; `out` needs room for kShadowClipVertices. They return the number
// of triangles appended.
int clipAndEmitTriangle(const vec4& a, const vec4& b, const vec4& c, const mat44& screen,
                        vec4* out);
int clipAndEmitQuad(const vec4& a, const vec4& b, const vec4& c, const vec4& d, const mat44& screen,
                    vec4* out);

// The side of the volume along the silhouette edge from A to B (camera space,
// walked in the direction of the face that looks at the light): the quad A, B,
// B extruded to infinity, A extruded to infinity. Returns the triangles appended.
int emitExtrudedEdge(const vec4& a, const vec4& b, const vec4& light, const Viewport& viewport,
                     vec4* out);

// A point extruded away from the light to infinity: (L.w V - V.w L) with w = 0.
inline vec4 extrude(const vec4& v, const vec4& light) {
    return {light.w * v.x - v.w * light.x, light.w * v.y - v.w * light.y,
            light.w * v.z - v.w * light.z, 0.0f};
}

// Appends the volume triangles of faces threadIndex, threadIndex + threadCount,
// ... of the instance's mesh for the light at `lightViewPos` (camera space) to
// the bin, advancing `count`. Reads the instance's transformed vertices; an
// instance that was not transformed this frame, or whose model-view matrix
// cannot be inverted, casts nothing. Returns the triangles appended.
int buildShadowVolumes(const MeshInstance& instance, const mat44& viewMatrix,
                       const Viewport& viewport, int threadIndex, int threadCount, ShadowBin& bin,
                       int& count, const vec4& lightViewPos);

} // namespace lumo
