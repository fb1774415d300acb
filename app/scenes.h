#pragma once
// The scene timeline: each frame the "scene" track picks one of seven scenes,
// and that scene submits its lights and placed meshes to the renderer in one or
// more passes, possibly blurring the colour buffer or blending 2D overlays into
// it before an output pass shows the result.
//
// Scenes talk to the renderer through SceneSink, one call per step of the pass
// protocol, so what a scene submits can be recorded and checked without
// rendering; RendererSink forwards the calls to the real renderer.

#include "app/camera.h"
#include "render/scene.h"

#include <string>
#include <vector>

namespace lumo {

class MeshStore;
class Renderer;
class SyncTrack;
class SyncTrackSet;
class TextureStore;
class VarPile;
struct Canvas;

class SceneSink {
public:
    virtual ~SceneSink() = default;
    virtual void beginFrame() = 0;
    virtual void setClearDepth(bool clear) = 0;
    // canvas null: the pass keeps its result in the colour buffer.
    virtual void setOutput(Canvas* canvas, int rowOffset) = 0;
    virtual void setViewMatrix(const mat44& view) = 0;
    virtual void setShowThreads(bool show) = 0;
    virtual void setOutputBias(float bias) = 0;
    virtual void setAmbient(float ambient) = 0;
    virtual void addLight(Light* light) = 0;
    virtual void addInstance(MeshInstance* instance) = 0;
    virtual void transformAll() = 0;
    virtual void renderFrame() = 0;
    virtual void blur(int radius) = 0;
    virtual void compositeOverlay(int textureIndex, int x, int y, float fade) = 0;
};

class RendererSink : public SceneSink {
public:
    RendererSink(Renderer& renderer, const TextureStore& textures)
        : renderer_(renderer), textures_(textures) {}
    void beginFrame() override;
    void setClearDepth(bool clear) override;
    void setOutput(Canvas* canvas, int rowOffset) override;
    void setViewMatrix(const mat44& view) override;
    void setShowThreads(bool show) override;
    void setOutputBias(float bias) override;
    void setAmbient(float ambient) override;
    void addLight(Light* light) override;
    void addInstance(MeshInstance* instance) override;
    void transformAll() override;
    void renderFrame() override;
    void blur(int radius) override;
    void compositeOverlay(int textureIndex, int x, int y, float fade) override;

private:
    Renderer& renderer_;
    const TextureStore& textures_;
};

// The 19 tracks, requested in this order at start-up.
struct DemoTracks {
    static constexpr const char* kNames[19] = {
        "scene",     "scenetime", "expos",   "blur", "cam_a", "cam_b", "cam_t",
        "speed",     "x",         "y",       "z",    "t1_y",  "t2_y",  "greet",
        "greet_pos", "octoscale", "tilyrot", "ec",   "ea"};

    SyncTrack *scene = nullptr, *scenetime = nullptr, *expos = nullptr, *blur = nullptr,
              *camA = nullptr, *camB = nullptr, *camT = nullptr, *speed = nullptr, *x = nullptr,
              *y = nullptr, *z = nullptr, *t1Y = nullptr, *t2Y = nullptr, *greet = nullptr,
              *greetPos = nullptr, *octoscale = nullptr, *tilyrot = nullptr, *ec = nullptr,
              *ea = nullptr;

    void request(SyncTrackSet& set);
};

struct BuildingBox {
    MeshInstance instance;
    std::string heightName;
};

// What outlives a frame: the building boxes, created once on the first frame.
struct SceneState {
    std::vector<BuildingBox> buildingBoxes;
    bool firstFrameDone = false;
    std::vector<std::string> greetingNames;

    void fillGreetingNames();
};

// Everything one frame of the scenes reads.
struct SceneFrame {
    VarPile& vars;
    MeshStore& meshes;
    const TextureStore& textures;
    const DemoTracks& tracks;
    SceneState& state;
    double row = 0.0;
    double now = 0.0;
    double distance = 0.0;
    mat44 view = mat44::identity();
    Canvas* canvas = nullptr;
    int windowHeight = 480;

    float track(const SyncTrack* t) const;
    float var(const std::string& name) const;
};

// Runs the block of the scene that round(track("scene")) names (1..7), with the
// building boxes created before the block of scene 7 on the first frame. Returns
// the scene number drawn, 0 when none.
int renderScenes(SceneFrame& frame, SceneSink& sink);

// The integral of the "speed" track from 0 to `seconds`, by fixed steps of
// 1/240 s (the last one partial): the one rule every headless mode uses, so a
// frame depends only on its position.
double distanceAt(const SyncTrack* speed, double seconds);

// distanceAt for a sequence of positions: a later position continues the sum
// of whole steps where the previous one stopped (an earlier one starts again),
// so every answer is bit for bit distanceAt's.
class DistanceClock {
public:
    double at(const SyncTrack* speed, double seconds);

private:
    const SyncTrack* speed_ = nullptr;
    long steps_ = 0;   // whole steps summed so far
    double sum_ = 0.0; // their sum
};

} // namespace lumo
