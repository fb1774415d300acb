#pragma once
// The geometry pipeline: on the main thread, before the workers start, every
// mesh instance is transformed into camera space, back faces are dropped, the
// rest is clipped against the left, right, top, bottom and near planes (the far
// plane is at infinity), lights are registered, faces are sorted front to back
// and every vertex is projected to pixels. The workers then only read the pools.
//
// Pools are allocated once (100000 entries each). Each mesh's entries form one
// contiguous block; a face's indices are the mesh's own plus the block start.
// A frame that would overflow a pool drops what does not fit (a whole mesh when
// its vertices, normals or texture coordinates do not fit, single triangles when
// clipping or emission runs out) and counts it; the statistics show the counts.

#include "assets/mesh.h"
#include "math/vec.h"
#include "math/viewport.h"
#include "render/internal/lighting.h"
#include "render/scene.h"
#include "sys/aligned.h"

#include <cstdint>
#include <string>
#include <vector>

namespace lumo {

class TextureStore;

struct alignas(16) PipelineVertex {
    vec4 viewPos;   // camera space, w = 1
    vec4 normal;    // camera-space unit normal, w = 0
    vec4 screenPos; // pixel x, pixel y, normalised depth, 1
    vec4 spare;
};

struct LightEntry {
    Light* light = nullptr;
    int shadowSlot = -1;
    int lightIndex = -1; // -1 also when the light table was full
};

class Pipeline {
public:
    static constexpr int kCapacity = 100000;
    static constexpr int kMaxLights = 16;

    AlignedVector<PipelineVertex> vertices;
    AlignedVector<vec4> texcoords;
    AlignedVector<vec4> normals;
    AlignedVector<MeshFace> faces;
    int vertexCapacity = kCapacity, normalCapacity = kCapacity, texcoordCapacity = kCapacity,
        faceCapacity = kCapacity;
    int vertexCount = 0, normalCount = 0, texcoordCount = 0, faceCount = 0;
    int maxVertices = 0, maxNormals = 0, maxTexcoords = 0, maxFaces = 0;
    int meshVertexCount = 0, meshNormalCount = 0, meshTexcoordCount = 0;
    AlignedVector<int32_t> order;
    // The sort's (key offset, face) pairs, one word each, and their second buffer.
    AlignedVector<uint64_t> sortItems, sortSpare;
    // Each face's sort key, written as the face is emitted.
    AlignedVector<int32_t> nearKeys;
    // The faces in drawing order as compact one-line records with their screen
    // y range, written by projectVertices: every band of every pass walks this
    // list sequentially instead of the scattered face records.
    struct alignas(64) DrawFace {
        int32_t vertexIndex[3], texcoordIndex[3], normalIndex[3];
        float minY, maxY;
        const Material* material;
    };
    AlignedVector<DrawFace> drawList;
    // Per pool vertex of the mesh being processed: a bit per clipping plane the
    // vertex lies outside of, so triangles wholly inside skip the clipper.
    AlignedVector<uint8_t> outcodes;
    Light* lights[kMaxLights] = {};
    int maxLights = kMaxLights;
    int lightCount = 0;
    const TextureStore* textures = nullptr;
    float ambient = 0.0f;
    bool pixelLighting = false;
    // Debug switch: off, every triangle takes the full clipping walk instead of
    // the shortcuts for wholly inside and wholly outside ones. Same pools.
    bool clipFastPaths = true;

    // What did not fit this frame, and the most seen in one frame since start.
    struct Dropped {
        int meshes = 0, faces = 0, lights = 0;
    };
    Dropped dropped, maxDropped;

    explicit Pipeline(const TextureStore* textures);
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    void resetFrame();
    // Transforms, culls and clips one instance (its world matrix included).
    void transformInstance(MeshInstance& instance, const mat44& viewMatrix,
                           const Viewport& viewport);
    // Registers a light for this frame; sets the entry's lightIndex.
    void registerLight(LightEntry& entry, const mat44& viewMatrix);
    void sortFaces();
    void projectVertices(const Viewport& viewport);
    // Raises the high-water marks to this frame's counts.
    void raiseStatistics();

private:
    void processMesh(const Mesh& mesh, const mat44& modelView, const Viewport& viewport);
    struct Corner {
        int32_t vertex, texcoord, normal;
    };
    void clipAndEmit(Corner corners[3], const MeshFace& source, const vec4& normal,
                     const Viewport& viewport);
    bool newCorner(const Corner& a, const Corner& b, float t, Corner& out);
    // Appends the fan (c0, cj, cj+1) of a convex polygon's corners.
    void emitFan(const Corner* polygon, int count, const MeshFace& source, const vec4& normal);
};

} // namespace lumo
