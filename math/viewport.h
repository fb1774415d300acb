#pragma once
// The camera's projection set: an infinite-far perspective (vertical field of
// view 60 degrees, near plane 0.1), the six frustum planes in camera space and
// the mapping from normalised device coordinates to pixels (y grows downwards).
// Camera-space depth z maps to the normalised depth 1 + 0.2 / z: -1 at the near
// plane, approaching 1 far away; clip w = -z.

#include "math/vec.h"

namespace lumo {

// The order of Viewport::planes. Triangles are clipped against the first
// kClipPlanes of them: the far plane lies at infinity and clips nothing.
enum class FrustumPlane { Left, Right, Top, Bottom, Near, Far };
constexpr int kClipPlanes = 5;

struct alignas(16) Viewport {
    Plane planes[6];
    float width = 0.0f, height = 0.0f;
    mat44 projection;
    mat44 screen;
    float fovDegrees = 30.0f;
    float aspect = 0.0f;
    float nearPlane = 0.1f;
    float farPlane = 10000.0f;

    // Builds the fields in order and prints the projection and the planes.
    Viewport(int width, int height, float aspect);

    const Plane& plane(FrustumPlane p) const { return planes[int(p)]; }
};

} // namespace lumo
