#pragma once
// The benchmark scene files (their format is described in the scene format
// notes shipped with the benchmarks) and what every benchmark program does with
// them: read a file, build the meshes and the checker texture it names, draw
// its frames with lumo's renderer, write a picture as a PPM. Other renderers
// (bench/peer) take the same SceneSpec, meshes and texture, so the workloads
// they time are the very same.
//
// Meshes named sphere.obj, torus.obj, plane.obj, box.obj and skybox.obj are
// generated in code; other names are read as OBJ files relative to the scene
// file.

#include "assets/mesh.h"
#include "assets/texture.h"
#include "render/renderer.h"
#include "render/simd.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lumo {

struct ObjectSpec {
    std::string file;
    vec4 position, angles, color;
    float scale = 1.0f;
    bool shadow = false, textured = false, sky = false;
    float spin = 0.0f;
};

struct SceneSpec {
    std::string name, directory;
    float ambient = 0.0f;
    float shininess = 8.0f;
    mat44 view = mat44::identity();
    std::vector<Light> lights;
    std::vector<ObjectSpec> objects; // sky objects last
};

// Reads a scene file; prints one line and returns false on bad input.
bool loadScene(const std::string& path, SceneSpec& scene);

// The mesh an object line names, every face drawn with `material`.
std::unique_ptr<Mesh> makeMesh(const SceneSpec& scene, const std::string& file,
                               const Material& material, TextureStore& textures);

// The benchmark's 256 x 256 checker, the texture of every `tex` object.
std::unique_ptr<Texture> checkerTexture();

// The object's rotation in frame frameIndex (counted from 0, warm-up included):
// its Euler angles with spin x frameIndex added to the y angle.
mat44 objectRotation(const ObjectSpec& object, int frameIndex);

// What the scene benchmarks are told on their command lines:
//   [--threads 1,2] [--shadows both|on|off] [--frames 60] [--runs 7]
//   [--warmup 40] [--size 640x360] [--pictures DIR] [--paths sse,avx2] [SCENE ...]
struct RunOptions {
    std::vector<int> threadCounts = {1, 2};
    std::vector<SimdPath> paths; // none: the active one (LUMO_SIMD or the widest)
    std::vector<bool> shadowSettings = {true, false};
    int frames = 60, runs = 7, warmup = 40, width = 640, height = 360;
    std::string pictureDir;
    std::vector<std::string> files; // none: sceneFolderFiles()
};

enum class OptionRead { Taken, Bad, Unknown };

// Reads argv[i], an option of RunOptions with its value (i moves past it) or a
// scene file, into options. Unknown: a '-' argument that is none of them.
OptionRead readRunOption(int argc, char** argv, int& i, RunOptions& options);

// The whole command line of a scene benchmark: each argument is first offered
// to extra (which may take it and its values, moving i, and return an exit
// status to stop with), then read as a run option; then the scene folder's
// files when none were named, and the vector paths. Returns the exit status
// when the program should stop at once: 0 after --help, 1 for a bad argument.
using ExtraOption = std::function<std::optional<int>(const std::string& arg, int& i)>;
std::optional<int> readCommandLine(int argc, char** argv, RunOptions& options, void (*usage)(),
                                   const ExtraOption& extra = nullptr);

// Takes LUMO_SIMD's choice and fills in options.paths when none were named.
// False, with one line printed, for a bad LUMO_SIMD or a path this processor lacks.
bool chooseVectorPaths(RunOptions& options);

// Every *.scene file of the benchmarks' own scene folder, sorted.
std::vector<std::string> sceneFolderFiles();

// XRGB8888 pixels, top row first, as a binary PPM.
bool writePpm(const std::string& path, const std::vector<uint32_t>& pixels, int w, int h);

// A scene file set up for lumo's renderer: its meshes, instances and lights
// (with the lights' shadow flags cleared when shadows is false), the render
// targets, and a canvas the renderer resolves every frame into, as the demo's
// output is always written.
class LumoScene {
public:
    // threads: the renderer's worker count. The renderer's set-up lines are
    // not printed.
    LumoScene(const SceneSpec& scene, bool shadows, int threads, int width, int height);

    // One frame: beginFrame, clear depth, the lights and objects in file order,
    // transformAll, renderFrame (which resolves into the canvas).
    void frame();

    Renderer& renderer() { return *renderer_; }
    const Renderer& renderer() const { return *renderer_; }
    const std::vector<uint32_t>& pixels() const { return canvasPixels_; }

private:
    const SceneSpec& scene_;
    TextureStore textures_;
    MeshStore meshes_;
    std::vector<MeshInstance> instances_;
    std::vector<Light> lights_;
    ColorBuffer color_;
    DepthBuffer depth_;
    StencilBuffer stencil_;
    std::vector<uint32_t> canvasPixels_;
    Canvas canvas_{};
    std::unique_ptr<Renderer> renderer_;
    int frameIndex_ = 0;
};

} // namespace lumo
