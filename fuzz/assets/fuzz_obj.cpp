// libFuzzer target for the OBJ reader with its MTL libraries, adjacency and normals
// included, all in memory. Input: a flags byte, then the OBJ text, a NUL byte and the
// MTL text that every "mtllib" line resolves to. Flag bit 0 puts "mtllib m.mtl" in
// front of the OBJ text so the materials road is reached at once.

#include "assets/obj.h"
#include "fuzz/require.h"
#include "sys/log.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

using lumo::fuzz::require;

namespace {

// What the texture resolver answers for every map_Kd name.
constexpr int32_t kTextureIndex = 7;

// Unit length (to float precision) or exactly zero.
bool unitOrZero(const lumo::vec4& n) {
    float lengthSquared = n.x * n.x + n.y * n.y + n.z * n.z;
    return n.w == 0.0f && (lengthSquared == 0.0f || std::fabs(lengthSquared - 1.0f) < 1e-5f);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    lumo::LogCapture quiet(false);
    std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    size_t split = text.find('\0');
    std::string obj(text.substr(0, split));
    std::string_view mtl =
        split == std::string_view::npos ? std::string_view() : text.substr(split + 1);
    if (data[0] & 1) {
        obj = "mtllib m.mtl\n" + obj;
    }

    lumo::Mesh mesh;
    lumo::parseObj(
        obj,
        [&](std::string_view) {
            return lumo::parseMtl(mtl, [](std::string_view) { return kTextureIndex; });
        },
        mesh);

    // What the renderer relies on: every index is inside its array, every material
    // pointer is live (ASan checks the reads), a texture index is one the resolver gave
    // (or 0, none yet, or -1 for the default material), and normals are unit length or
    // zero (never NaN, never shortened by a squared length that lost its precision).
    require(mesh.vertexCount == int32_t(mesh.vertices.size()) &&
            mesh.faceCount == int32_t(mesh.faces.size()) &&
            mesh.normalCount == int32_t(mesh.normals.size()) &&
            mesh.texcoordCount == int32_t(mesh.texcoords.size()) && mesh.texcoordCount >= 1);
    for (const lumo::MeshFace& face : mesh.faces) {
        for (int k = 0; k < 3; ++k) {
            require(face.vertexIndex[k] >= 0 && face.vertexIndex[k] < mesh.vertexCount &&
                    face.texcoordIndex[k] >= 0 && face.texcoordIndex[k] < mesh.texcoordCount &&
                    face.normalIndex[k] >= -1 && face.normalIndex[k] < mesh.normalCount &&
                    face.neighbour[k] >= -1 && face.neighbour[k] < mesh.faceCount);
        }
        const int32_t texture = face.material->textureIndex;
        require((texture == kTextureIndex || texture == 0 || texture == -1) &&
                unitOrZero(face.normal));
    }
    for (const lumo::MeshVertex& vertex : mesh.vertices) {
        require(unitOrZero(vertex.normal));
    }
    return 0;
}
