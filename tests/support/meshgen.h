#pragma once
// Procedural meshes for the tests and benchmarks. Triangles wind
// counter-clockwise seen from the side their normal points to (outward for the
// closed solids, inward for the sky box), texture coordinate entry 0 is (0, 0)
// as in loaded meshes, and adjacency is built, so the closed ones can cast
// shadows. Every face uses the one material given.

#include "assets/mesh.h"

#include <memory>
#include <string>

namespace lumo {

// UV sphere of radius 1: 2 x slices x (stacks - 1) triangles, smooth normals.
std::unique_ptr<Mesh> makeSphere(int slices, int stacks, const Material& material);
// Cube [-1, 1]^3 sharing its 8 corners (closed), one flat normal per side.
std::unique_ptr<Mesh> makeBox(const Material& material);
// Torus around the y axis, major radius 1, minor radius `minor`: 2 x rings x sides
// triangles, smooth normals.
std::unique_ptr<Mesh> makeTorus(int rings, int sides, float minor, const Material& material);
// Square [-1, 1] in the xz plane facing up (+y), cells x cells quads. Open: no
// adjacency is built (its plane blocks stay zero).
std::unique_ptr<Mesh> makePlane(int cells, const Material& material);
// Cube [-1, 1]^3 seen from inside, each side mapped to the whole texture.
std::unique_ptr<Mesh> makeSkybox(const Material& material);

} // namespace lumo
