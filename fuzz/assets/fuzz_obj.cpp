// libFuzzer target for the OBJ and MTL readers, adjacency and normals included.
// Input: flags byte, then the OBJ text, a NUL byte, and the MTL text. The files go
// to a private temporary directory as "o.obj" and "m.mtl"; flag bit 0 puts
// "mtllib m.mtl" in front of the OBJ text so the materials road is reached at once.
// "/" in the MTL text becomes "_" so "map_Kd" names stay inside that directory.

#include "assets/mesh.h"
#include "assets/texture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

std::string directory;

void removeDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(directory, ignored);
}

void ignoreDecodeFailure() {}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/lumo_fuzz_obj_XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::abort();
    }
    directory = std::string(pattern) + "/";
    std::atexit(removeDirectory);
    // The loaders print a line per mesh, texture and non-manifold side.
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
        dup2(null, 1);
        close(null);
    }
    lumo::setDecodeFailureHandler(ignoreDecodeFailure);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    size_t split = text.find('\0');
    std::string obj = text.substr(0, split);
    std::string mtl = split == std::string::npos ? std::string() : text.substr(split + 1);
    for (char& c : mtl) {
        c = c == '/' ? '_' : c;
    }
    if (data[0] & 1) {
        obj = "mtllib m.mtl\n" + obj;
    }
    writeFile(directory + "o.obj", obj);
    writeFile(directory + "m.mtl", mtl);

    lumo::TextureStore textures;
    lumo::Mesh mesh;
    mesh.loadObj(directory, "o.obj", textures);

    // What the renderer relies on: every index is inside its array, every material
    // pointer is live, and normals are unit length or zero.
    for (const lumo::MeshFace& face : mesh.faces) {
        for (int k = 0; k < 3; ++k) {
            if (face.vertexIndex[k] < 0 || face.vertexIndex[k] >= mesh.vertexCount ||
                face.texcoordIndex[k] < 0 || face.texcoordIndex[k] >= mesh.texcoordCount ||
                face.normalIndex[k] < -1 || face.normalIndex[k] >= mesh.normalCount ||
                face.neighbour[k] < -1 || face.neighbour[k] >= mesh.faceCount) {
                std::abort();
            }
        }
        if (face.material->textureIndex >= textures.size() || std::isnan(face.normal.x)) {
            std::abort();
        }
    }
    for (const lumo::MeshVertex& vertex : mesh.vertices) {
        if (std::isnan(vertex.normal.x) || std::isnan(vertex.normal.y) ||
            std::isnan(vertex.normal.z)) {
            std::abort();
        }
    }
    return 0;
}
