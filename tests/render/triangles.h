#pragma once
// Shared helpers of the renderer tests: meshes made of separate triangles.

#include "assets/mesh.h"

#include <memory>
#include <vector>

namespace lumo::test {

struct Tri {
    vec4 a, b, c;
    vec4 normal;
};

// Corner k gets the texture coordinate (k / 4, 1 / 2), or `uv` when given; the
// faces use `material` and carry spare 7.
std::unique_ptr<Mesh> meshOf(const std::vector<Tri>& tris, const Material* material,
                             const vec4* uv = nullptr);

} // namespace lumo::test
