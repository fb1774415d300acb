#pragma once
// Shared helpers of the renderer tests: meshes made of separate triangles; and
// for whole-picture tests one store of generated meshes and a checker texture,
// a renderer with its targets, and frames rendered with a chosen worker count.

#include "assets/mesh.h"
#include "assets/texture.h"
#include "render/renderer.h"

#include <memory>
#include <random>
#include <vector>

namespace lumo::test {

struct Tri {
    vec4 a, b, c, normal;
};

// Corner k gets the texture coordinate (k / 4, 1 / 2), or `uv` when given; the
// faces use `material` and carry spare 7.
std::unique_ptr<Mesh> meshOf(const std::vector<Tri>& tris, const Material* material,
                             const vec4* uv = nullptr);

struct Assets {
    std::unique_ptr<TextureStore> textures;
    std::unique_ptr<MeshStore> meshes;
    int sphere = 0, box = 0, torus = 0, plane = 0, skybox = 0; // untextured -1, sky textured
    int allSphere = 0, gouraudBox = 0, addTorus = 0;           // types 4, 5, 55
    // Materials for the instances: untextured (-1), textured, and types 4, 5, 55.
    Material lit, textured, litAll, gouraudAll, additive;
};

// Made once, shared by every test.
Assets& sharedAssets();

MeshInstance place(int mesh, float scale, vec4 position, vec4 angles = vec4(),
                   bool castsShadow = false);

// n pixels whose channels are drawn uniformly from [low, high), red to alpha.
std::vector<vec4> randomPixels(std::mt19937& rng, size_t n, float low = -0.5f, float high = 2.0f);

// A frame as stored: the colours as bytes (equal means identical), the depths
// in tiles, the canvas, and the counts of the frame's last shadowed light.
struct Picture {
    std::vector<uint8_t> color;
    std::vector<int32_t> depth;
    std::vector<uint32_t> canvas;
    std::vector<uint8_t> stencil;
    bool operator==(const Picture&) const = default;
};

// A blur after every pass (radius -1: none): with the pass, by
// renderFrameThenBlur, when inPass; else by blur() after renderFrame. The
// workers' band markers are drawn when showThreads.
struct PassBlur {
    int radius = -1;
    bool inPass = false;
    bool showThreads = false;
};

// A renderer with ambient 0.2 drawing into its own buffers, resolving from row
// 4 of a canvas 8 rows taller than the picture, filled with 0xDEADBEEF. Padded:
// the buffers are rounded up to whole tiles, so every row of the picture is
// drawn; else rows beyond the last whole tile are not.
struct Rig {
    explicit Rig(int threads, int width = 320, int height = 176, bool padded = false);
    // One pass; the renderer keeps pointers to the lights and instances until
    // the next one.
    void render(const mat44& view, std::vector<Light> passLights,
                std::vector<MeshInstance> passInstances, bool clear = true,
                bool pixelLighting = false);
    Picture picture() const;

    ColorBuffer color;
    DepthBuffer depth;
    StencilBuffer stencil;
    std::vector<uint32_t> canvasPixels;
    Canvas canvas;
    std::unique_ptr<Renderer> renderer;
    std::vector<Light> lights;
    std::vector<MeshInstance> instances;
    PassBlur blur;
};

// Shadows: closed casters (a rotating box and torus, a sphere) and an open one
// over a plane, two shadow-casting lights and one without; ShadowsInside: the
// same lit per pixel, with the camera low between the casters, inside their volumes, and the
// volumes crossing the near plane and the sides of the view.
enum class Scene { Clipped, TwoPasses, Shadows, ShadowsInside };

// Renders frames of the scene (animated by the frame number) at 320 x 180 and
// returns the pictures of the first three and of the last; `blockCounts`
// empty: the renderer's own band layout and balancing; `chunkRows` 0: the
// renderer's own chunks (one per band at this size).
std::vector<Picture> renderScene(Scene scene, int threads, const std::vector<int>& blockCounts = {},
                                 int frames = 3, bool padded = false, int chunkRows = 0,
                                 PassBlur blur = {});

} // namespace lumo::test
