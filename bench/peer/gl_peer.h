#pragma once
// The peer renderer: the benchmark scene files drawn by OpenGL 3.3 core through
// EGL's surfaceless platform (no window, no display server), which without a
// GPU is Mesa's llvmpipe, into a framebuffer object with an RGBA8 colour and a
// 24/8 depth-stencil renderbuffer. It draws what lumo's renderer draws, with the
// passes of a GPU renderer of the stencil-shadow era:
//
//   clear           colour, depth and stencil
//   ambient pass    depth writes on; untextured objects flat in Kd x ambient,
//                   textured ones unlit with the checker, nearest texel
//   per light       for a light that casts shadows: clear the stencil and count
//                   the casters' shadow volumes into it (below); then add, where
//                   the stencil is 0, the untextured objects lit by this light
//                   alone (blending ONE + ONE, depth test LEQUAL, no depth writes)
//   read back       glReadPixels of the picture: lumo's counterpart is the
//                   resolve into its canvas, and both complete the frame
//
// Lighting is lumo's model (render/internal/lighting.h), per vertex in camera
// space: colour x diffuse / d^2 x clamp(n . l) x Kd plus specular colour x
// specular / d^2 x clamp(n . h)^shininess with the half vector h; pow stands in
// for lumo's bit-level power.
//
// Shadow volumes come from a geometry shader over each closed caster's
// triangles with adjacency (a triangle and the far corners of its three
// neighbours). A triangle turned away from the light becomes part of the far
// cap, pushed to infinity (w = 0); one that looks at the light is part of the
// near cap and closes the sides along its silhouette edges (where the
// neighbour is turned away) with quads from the edge out to infinity, wound
// outward as lumo winds them. Volume faces behind the visible surface count +1
// seen from behind and -1 seen from the front (depth-fail, Carmack's reverse):
// the count is not 0 exactly where the surface is inside a volume. A triangle
// and its neighbour must agree which of them is lit, or an edge's side would
// be drawn twice or never; both evaluate the same symmetric expression on the
// same three corners, so they agree bit for bit (see the shader).
//
// The projection is lumo's own (math/viewport.h): vertical field of view 60
// degrees, near plane 0.1, far plane at infinity, under which a vertex at
// infinity lands on depth 1 exactly; depth clamping during the count keeps
// rounding from clipping the far caps away. Every pass places vertices with one
// invariant expression, so a light pass meets the ambient pass's depths exactly.
// A near cap must meet its own surface's depth too, or not lie in front of it:
// a lit surface is in shadow unless the near cap over it counts. But llvmpipe
// takes triangles that come out of a geometry shader to the window on another
// path than those drawn without one, and their depths can differ in the last
// place (speckles of false shadow all over the lit faces); one unit of polygon
// offset moves every volume face just behind.
//
// The picture shows the same scene as lumo's without being identical to it:
// pixel centres are sampled half a pixel apart, light passes accumulate in
// 8 bits, and pow is not lumo's power approximation. Colours are scaled by
// 256 / 255 as lumo's resolve scales them (1.0 gives 256, capped at 255).

#include "bench/render/scene_file.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace lumo {

class GlPeer {
public:
    GlPeer();
    ~GlPeer(); // releases the GL objects, the context and the display
    GlPeer(const GlPeer&) = delete;
    GlPeer& operator=(const GlPeer&) = delete;

    // Opens the surfaceless display and a 3.3 core context, and builds the
    // framebuffer, shaders and checker texture. Returns false with the reason in
    // error() when any of it is missing (no EGL device, no such platform, ...).
    bool open(int width, int height);
    const std::string& error() const;
    // GL_RENDERER and GL_VERSION, for the table's heading.
    std::string rendererName() const;

    // Builds the scene's vertex buffers (one set per mesh file) and starts its
    // frames from 0. shadows = false clears every light's shadow flag, as the
    // lumo side does. Returns false with the reason in error().
    bool load(const SceneSpec& scene, bool shadows);
    // One frame, read back included.
    void frame();
    // The last frame as XRGB8888 pixels, top row first (writePpm's order).
    std::vector<uint32_t> picture() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace lumo
