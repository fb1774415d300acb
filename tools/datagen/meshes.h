#pragma once
// Every mesh the scenes name, with its materials, written into data/meshes/.

#include <string>
#include <vector>

namespace lumo::datagen {

struct MeshInfo {
    std::string file; // "tube4a.obj"
    int vertices = 0;
    int triangles = 0;
};

// Writes all meshes (and the textures their materials name) into dir.
// Returns false after printing a message when a file cannot be written.
bool writeMeshes(const std::string& dir, std::vector<MeshInfo>& written);

// Number of generated building boxes (bldg_box1.obj ... bldg_boxN.obj).
constexpr int kBuildingBoxCount = 36;

} // namespace lumo::datagen
