#pragma once
// Test scenes for whole-picture tests: stores with generated meshes and a checker
// texture, and frames rendered with a chosen worker count.

#include "assets/mesh.h"
#include "assets/texture.h"
#include "render/renderer.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace lumo::test {

struct Assets {
    std::unique_ptr<TextureStore> textures;
    std::unique_ptr<MeshStore> meshes;
    int sphere = 0, box = 0, torus = 0, plane = 0, skybox = 0;      // untextured -1, sky textured
    int allSphere = 0, gouraudBox = 0, addTorus = 0, hiddenBox = 0; // types 4, 5, 55, 1
    int checker = 0;                                                // texture index
    // Materials for the instances: untextured (-1), textured, and types 1, 4, 5, 55.
    Material lit, textured, invisible, litAll, gouraudAll, additive;
};

// The stores live as long as Assets.
Assets makeAssets();

struct Picture {
    std::vector<vec4> color;
    std::vector<int32_t> depth; // row-major
    std::vector<uint32_t> canvas;
    std::vector<uint8_t> stencil; // row-major: the counts of the frame's last shadowed light
    bool operator==(const Picture& o) const;
};

// Shadows: closed casters (a rotating box and torus, a sphere) and an open one
// over a plane, two shadow-casting lights and one without; ShadowsInside: the
// same lit per pixel, with the camera low between the casters, inside their volumes, and the
// volumes crossing the near plane and the sides of the view.
enum class Scene { SkyBox, Clipped, TwoPasses, Shadows, ShadowsInside };

struct RenderOptions {
    int threads = 1;
    int width = 320, height = 180;
    int frames = 3;
    std::vector<int> blockCounts; // empty: the renderer's own layout and balancing
};

// Renders `frames` frames of the scene (animated by the frame number) and
// returns the picture after each.
std::vector<Picture> renderScene(Assets& assets, Scene scene, const RenderOptions& options);

} // namespace lumo::test
