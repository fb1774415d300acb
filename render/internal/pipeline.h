#pragma once
// The geometry pipeline: every mesh instance is transformed into camera space,
// back faces are dropped, the rest is clipped against the left, right, top,
// bottom and near planes (the far plane is at infinity), faces get their sort
// keys, are sorted front to back, and every vertex is projected to pixels. The
// workers then only read the pools.
//
// Pools are allocated once (100000 entries each). Each mesh's own entries form
// one contiguous block; a face's indices are the mesh's own plus the block
// start. The entries that faces make (the clipper's new corners, stand-ins for
// missing texture coordinates and normals) follow elsewhere in the same pools.
//
// The geometry of a frame runs one of two ways, with the same faces in the same
// order and the same values, so the same pictures:
// - Shared by the workers (planShares, then per share transformShare,
//   faceShare, placeShare with everybody's previous step done in between):
//   every mesh's own block first, laid out by prefix sums, then the made
//   entries of each share in face order. Each share's made entries go to its
//   own staging (the first share's straight into the pools) and are placed
//   once the counts are known.
// - One instance after another (transformInstance): each mesh's made entries
//   right after its own block. A frame that would overflow a pool drops what
//   does not fit (a whole mesh when its vertices, normals or texture
//   coordinates do not fit, single triangles when clipping or emission runs
//   out) and counts it; the statistics show the counts. A shared frame that
//   would not fit is done again this way, so what is dropped never depends on
//   the worker count.

#include "assets/mesh.h"
#include "math/vec.h"
#include "math/viewport.h"
#include "render/internal/lighting.h"
#include "render/scene.h"
#include "sys/aligned.h"

#include <cstdint>
#include <memory>
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
    // Per own vertex: a bit per clipping plane the vertex lies outside of, so
    // triangles wholly inside skip the clipper.
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
    ~Pipeline();
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    void resetFrame();
    // Transforms, culls and clips one instance (its world matrix included).
    void transformInstance(MeshInstance& instance, const mat44& viewMatrix,
                           const Viewport& viewport);
    // Registers a light for this frame; sets the entry's lightIndex.
    void registerLight(LightEntry& entry, const mat44& viewMatrix);
    void sortFaces();
    // Projects every vertex, then lists the sorted faces for drawing.
    void projectVertices(const Viewport& viewport);
    // Raises the high-water marks to this frame's counts.
    void raiseStatistics();

    // The frame's geometry in `shares` parts: lays out the instances' own
    // blocks and sets their world matrices and first vertices. False, with
    // nothing changed, when the own blocks alone overflow a pool: such a frame
    // goes one instance after another. The instances must stay put until the
    // frame is placed.
    bool planShares(const std::vector<MeshInstance*>& instances, const mat44& viewMatrix,
                    const Viewport& viewport, int shares);
    // Each share's steps; every share's transformShare must be done before any
    // faceShare, every faceShare before sharesFit and any placeShare.
    void transformShare(int share);
    void faceShare(int share);
    // Whether the made entries and faces of all shares fit the pools.
    bool sharesFit() const;
    void placeShare(int share);
    // When the shares did not fit: the frame again, one instance after another.
    void redoOneByOne();
    // All shares' steps on this thread.
    void runShares();
    // After the geometry: projection where it is still due, sort, draw list.
    void finishGeometry();

private:
    // A frame's instance as the shares see it.
    struct Planned {
        MeshInstance* instance;
        const Mesh* mesh;
        mat44 modelView;
        int vertices, normals, texcoords, faces;  // the mesh's own, clamped
        int vertexBase, normalBase, texcoordBase; // where its own blocks start
        int faceBase;                             // its first face among all planned
    };
    struct Staging;
    // Where face processing puts faces (with their keys) and the entries it
    // makes. Indices that faces store are positions plus `tag`: 0 for the
    // pools, INT32_MIN for a share's staging (told apart by their sign).
    struct Output {
        PipelineVertex* vertices;
        vec4* normals;
        vec4* texcoords;
        MeshFace* faces;
        int32_t* keys;
        int vertexCount = 0, normalCount = 0, texcoordCount = 0, faceCount = 0;
        int32_t tag = 0;
        Staging* staging = nullptr; // grows on demand; null: the pools
        int droppedFaces = 0;       // faces with corners that do not exist
        bool full = false;          // something did not fit
    };
    struct Corner {
        int32_t vertex, texcoord, normal;
    };

    // The instance's mesh and own entries with their blocks at the bases
    // (modelView left to the caller). False when it has no mesh (p.mesh null)
    // or its own entries do not fit the pools from the bases on.
    bool plan(MeshInstance& instance, int vertexBase, int normalBase, int texcoordBase,
              int faceBase, Planned& p) const;
    Output poolOutput(int vertexStart, int normalStart, int texcoordStart, int faceStart);
    // The mesh's own entries [first, last) of each kind into the pools.
    void transformOwn(const Planned& p, int vertexFirst, int vertexLast, int normalFirst,
                      int normalLast, int texcoordFirst, int texcoordLast);
    void projectRange(int first, int last);
    void buildDrawList();
    // Faces [first, last) of the mesh: facing, corners, clipping, emission.
    void processFaces(const Planned& p, int first, int last, Output& out);
    void clipAndEmit(Corner corners[3], const MeshFace& source, const vec4& normal, Output& out);
    bool newCorner(const Corner& a, const Corner& b, float t, Output& out, Corner& made);
    // Appends the fan (c0, cj, cj+1) of a convex polygon's corners.
    void emitFan(const Corner* polygon, int count, const MeshFace& source, const vec4& normal,
                 Output& out);
    bool roomForVertex(Output& out);
    bool roomForNormal(Output& out);
    bool roomForTexcoord(Output& out);
    bool roomForFace(Output& out);
    const PipelineVertex& vertexAt(const Output& out, int32_t index) const {
        return index >= 0 ? vertices[index] : out.vertices[uint32_t(index) - 0x80000000u];
    }
    const vec4& normalAt(const Output& out, int32_t index) const {
        return index >= 0 ? normals[index] : out.normals[uint32_t(index) - 0x80000000u];
    }
    const vec4& texcoordAt(const Output& out, int32_t index) const {
        return index >= 0 ? texcoords[index] : out.texcoords[uint32_t(index) - 0x80000000u];
    }

    std::vector<Planned> planned_;
    const Viewport* viewport_ = nullptr;
    mat44 viewMatrix_;
    int ownVertices_ = 0, ownNormals_ = 0, ownTexcoords_ = 0, plannedFaces_ = 0;
    struct {
        int vertices, normals, texcoords, faces;
    } start_{}; // the pools' counts when the shares were planned
    struct Share;
    std::vector<std::unique_ptr<Share>> shares_;
    int shareCount_ = 0;
    // Whether every vertex in the pools has its screen position.
    bool projected_ = true;
};

} // namespace lumo
