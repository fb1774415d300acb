#pragma once
// Loaded OBJ geometry. Every array is one contiguous block owned by its mesh,
// starting on a 64-byte cache line (AlignedVector, sys/aligned.h); faces point into
// the mesh's material list (std::list nodes keep their addresses) or at its
// defaultMaterial. The text readers are in assets/obj.h; this file's loaders read
// the files and the textures the materials name.

#include "math/vec.h"
#include "sys/aligned.h"

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

namespace lumo {

class TextureStore;

// How the renderer draws a face of the material. Any other number an MTL
// file gives is kept and reported by the renderer as an unknown shader type.
enum class ShaderType : int32_t {
    Plain = -1,     // flat ambient, then per-vertex light per light; textured: the texels, unlit
    Invisible = 1,  // drawn in no pass, yet it may cast shadows
    LitAll = 4,     // per-pixel light of all lights, in the ambient pass and again in each
    GouraudAll = 5, // per-vertex light of all lights, in the ambient pass and again in each
    Additive = 55,  // per-vertex light of all lights, added in every pass
};

struct alignas(16) Material {
    vec4 ambient;
    vec4 diffuse;
    vec4 specular;
    float shininess = 8.0f;
    int32_t textureIndex = 0;
    ShaderType shaderType = ShaderType::Plain;
    int32_t ns = 0;
    float dissolve = 0.0f;
    std::string name;
};

struct alignas(16) MeshVertex {
    vec4 position; // (x, y, z, 1)
    vec4 normal;   // smooth unit normal, w = 0
    vec4 spare0;
    vec4 spare1;
};

// A face is a triangle: the loader fans polygons, so each index array holds
// its three corners. What the transform reads of every face each frame
// (normal, indices, spare, material) fills the record's first 64-byte line;
// the adjacency and shadow-volume data, read only for casters, the other two.
struct alignas(16) MeshFace {
    vec4 normal;
    int32_t vertexIndex[3] = {};
    int32_t texcoordIndex[3] = {}; // 1-based; 0 selects the (0, 0) entry
    int32_t normalIndex[3] = {};   // 0-based; -1 when the corner has none
    int32_t spare = 0;
    const Material* material = nullptr;
    int32_t cornerCount = 3;
    int32_t edge[3] = {};
    int32_t neighbour[3] = {};
    // Lane 0 is this triangle, lanes 1..3 its neighbours across sides 0..2.
    vec4 planeNormalX, planeNormalY, planeNormalZ;
    vec4 planePointX, planePointY, planePointZ;
};
static_assert(offsetof(MeshFace, material) + sizeof(const Material*) <= 64,
              "the per-frame fields of a face stay in its first cache line");
static_assert(sizeof(MeshFace) == 192, "a face record is three cache lines");

struct Mesh {
    vec4 boxCorners[8];
    AlignedVector<MeshVertex> vertices;
    int32_t vertexCount = 0;
    AlignedVector<vec4> normals;
    int32_t normalCount = 0;
    AlignedVector<vec4> texcoords; // entry 0 is (0, 0)
    int32_t texcoordCount = 0;
    AlignedVector<MeshFace> faces;
    int32_t faceCount = 0;
    std::list<Material> materials;
    Material defaultMaterial;
    std::string name;
    bool manifold = true;

    Mesh();
    Mesh(const Mesh&) = delete;
    Mesh& operator=(const Mesh&) = delete;

    // Prints "---- loading [fileName]:" and builds the mesh, named fileName, from the
    // file directory + fileName (parseObj; a missing file reads as empty). The
    // libraries its "mtllib" lines name are read by loadMtl from the same directory.
    void loadObj(const std::string& directory, const std::string& fileName, TextureStore& textures);

    // Fills in what follows from the positions and triangles: each triangle's unit
    // normal (zero when it has no area), the adjacency (buildAdjacency), each vertex's
    // normal (its triangles' normals summed, then made unit) and boxCorners. Every
    // vertex index must lie inside vertices.
    void deriveFromTriangles();

    // Fills edge, neighbour, the plane blocks and manifold from the triangles'
    // vertex indices and normals, printing a line per non-manifold side. Every
    // vertex index must lie inside vertices.
    void buildAdjacency();
};

class MeshStore {
public:
    MeshStore(); // holds only the placeholder "dummydummydummy" at index 0
    void loadDirectory(const std::string& directory, TextureStore& textures);
    int find(const std::string& name) const;
    Mesh& operator[](int index) { return *meshes_[index]; }
    const Mesh& operator[](int index) const { return *meshes_[index]; }
    int size() const { return int(meshes_.size()); }
    // Appends an already built mesh (tests, generated content); returns its index.
    int add(std::unique_ptr<Mesh> mesh);

private:
    std::vector<std::unique_ptr<Mesh>> meshes_;
};

// The materials of the MTL file directory + fileName (parseMtl; a missing file reads
// as empty). Each "map_Kd" texture prints "texture filename is [name]" and loads from
// the same directory into textures, once per name.
std::list<Material> loadMtl(const std::string& directory, const std::string& fileName,
                            TextureStore& textures);

} // namespace lumo
