#pragma once
// What a caller puts into a frame: point lights and placed meshes. Both are
// plain values built by the scene code each frame; the renderer keeps pointers
// to them from addLight / addInstance until renderFrame returns, and writes a
// few per-frame results into them (a light's camera-space position, an
// instance's world matrix and first pool vertex), which the workers read.
//
// Conventions: world space is right-handed with y up; matrices are column-major
// and applied to column vectors (math/vec.h). Positions carry w = 1.

#include "math/vec.h"

#include <string>

namespace lumo {

class MeshStore;
struct PipelineVertex;

struct alignas(16) Light {
    vec4 position; // world space, w = 1
    vec4 color;
    float diffuse = 0.0f;
    vec4 specularColor;
    float specular = 0.0f;
    bool castsShadow = false;
    vec4 viewPos; // camera space, written each frame by transformAll
};

struct MeshInstance {
    float scale = 1.0f;
    mat44 rotation = mat44::identity();
    mat44 placement = mat44::identity();
    int meshIndex = 0;
    MeshStore* meshes = nullptr;
    // The instance's first transformed vertex, or null when its mesh did not fit
    // into the pools this frame (nothing of it was drawn). Written by transformAll.
    PipelineVertex* firstVertex = nullptr;
    mat44 world = mat44::identity(); // placement * rotation * scale, written by transformAll
    bool castsShadow = false;

    MeshInstance(int meshIndex, MeshStore* meshes);

    // Scaled, turned by the Euler angles (radians), then moved to position.
    static MeshInstance placed(int meshIndex, MeshStore* meshes, float scale, const vec4& position,
                               const vec4& angles);
    // The same with the mesh looked up by file name (unknown names give the
    // placeholder).
    static MeshInstance placeInstance(MeshStore* meshes, const std::string& meshName, float scale,
                                      const vec4& position, const vec4& angles);
    void setRotation(const vec4& angles);
};

} // namespace lumo
