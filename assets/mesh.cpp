#include "assets/mesh.h"

#include "assets/files.h"
#include "assets/obj.h"
#include "assets/texture.h"
#include "sys/log.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string_view>

namespace lumo {

namespace {

// Unit vector along v (w = 0 in, w = 0 out), or zero when v has no direction: a
// zero-area triangle, a vertex no triangle uses, or non-finite positions. Vectors
// whose squared length leaves the normal float range are rescaled first: above it
// the square is infinite, below it zero or subnormal, too coarse to divide by (a
// length of 3e-23 squares to the smallest subnormal and would "normalize" to 0.8).
vec4 unitOrZero(const vec4& v) {
    float lengthSquared = dot(v, v);
    if (lengthSquared >= std::numeric_limits<float>::min() && std::isfinite(lengthSquared)) {
        return normalize(v);
    }
    if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z)) {
        return vec4();
    }
    float largest = std::max({std::fabs(v.x), std::fabs(v.y), std::fabs(v.z)});
    if (largest == 0.0f) {
        return vec4();
    }
    vec4 scaled = v * (1.0f / largest);
    if (!std::isfinite(scaled.x) || !std::isfinite(scaled.y) || !std::isfinite(scaled.z)) {
        // 1 / largest overflowed (largest is subnormal): scale in two steps.
        scaled = (v * 0x1p64f) * (1.0f / (largest * 0x1p64f));
    }
    return normalize(scaled);
}

std::string readText(const std::string& path) {
    std::string text;
    readWholeFile(path, text); // a missing file reads as empty text
    return text;
}

} // namespace

Mesh::Mesh() {
    defaultMaterial.shininess = 8.0f;
    defaultMaterial.textureIndex = -1;
    defaultMaterial.shaderType = ShaderType(0);
    defaultMaterial.ns = 0;
    defaultMaterial.dissolve = 1.0f;
    defaultMaterial.name = "(unnamed)";
}

void Mesh::deriveFromTriangles() {
    for (MeshFace& face : faces) {
        const vec4& a = vertices[face.vertexIndex[0]].position;
        const vec4& b = vertices[face.vertexIndex[1]].position;
        const vec4& c = vertices[face.vertexIndex[2]].position;
        face.normal = unitOrZero(cross(b - a, c - a));
    }

    buildAdjacency();

    // Accumulating triangle by triangle adds each vertex's normals in ascending
    // triangle order, the same sums as scanning all triangles per vertex.
    std::vector<vec4> sums(vertices.size());
    for (const MeshFace& face : faces) {
        for (int k = 0; k < 3; ++k) {
            sums[face.vertexIndex[k]] += face.normal;
        }
    }
    for (size_t i = 0; i < vertices.size(); ++i) {
        vertices[i].normal = unitOrZero(sums[i]);
    }

    vec4 lo(1e20f, 1e20f, 1e20f, 0.0f);
    vec4 hi(-1e20f, -1e20f, -1e20f, 0.0f);
    for (const MeshVertex& v : vertices) {
        lo.x = v.position.x < lo.x ? v.position.x : lo.x;
        lo.y = v.position.y < lo.y ? v.position.y : lo.y;
        lo.z = v.position.z < lo.z ? v.position.z : lo.z;
        hi.x = v.position.x > hi.x ? v.position.x : hi.x;
        hi.y = v.position.y > hi.y ? v.position.y : hi.y;
        hi.z = v.position.z > hi.z ? v.position.z : hi.z;
    }
    for (int k = 0; k < 8; ++k) {
        boxCorners[k] =
            vec4((k & 1) ? hi.x : lo.x, (k & 2) ? hi.y : lo.y, (k & 4) ? hi.z : lo.z, 0.0f);
    }
}

std::list<Material> loadMtl(const std::string& directory, const std::string& fileName,
                            TextureStore& textures) {
    return parseMtl(readText(directory + fileName), [&](std::string_view name) {
        std::string textureName(name);
        logPrintf("texture filename is [%s]\n", textureName.c_str());
        return int32_t(textures.findOrLoad(directory, textureName));
    });
}

void Mesh::loadObj(const std::string& directory, const std::string& fileName,
                   TextureStore& textures) {
    logPrintf("---- loading [%s]:\n", fileName.c_str());
    name = fileName;
    parseObj(
        readText(directory + fileName),
        [&](std::string_view library) {
            return loadMtl(directory, std::string(library), textures);
        },
        *this);
}

MeshStore::MeshStore() {
    auto placeholder = std::make_unique<Mesh>();
    placeholder->name = "dummydummydummy";
    meshes_.push_back(std::move(placeholder));
}

int MeshStore::find(const std::string& name) const {
    for (size_t i = 0; i < meshes_.size(); ++i) {
        if (meshes_[i]->name == name) {
            return int(i);
        }
    }
    return 0;
}

int MeshStore::add(std::unique_ptr<Mesh> mesh) {
    meshes_.push_back(std::move(mesh));
    return int(meshes_.size()) - 1;
}

void MeshStore::loadDirectory(const std::string& directory, TextureStore& textures) {
    logPrintf("about to load meshes from [%s*.obj]\n", directory.c_str());
    for (const std::string& name : listFiles(directory, ".obj")) {
        auto mesh = std::make_unique<Mesh>();
        mesh->loadObj(directory, name, textures);
        int existing = find(name);
        if (existing != 0) {
            meshes_[existing] = std::move(mesh);
        } else {
            meshes_.push_back(std::move(mesh));
        }
    }
}

} // namespace lumo
