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
#include "app/picture_layout.h"
#include "render/scene.h"

#include <memory>
#include <string>
#include <vector>

namespace lumo {

class MeshStore;
class Renderer;
class SyncTrack;
class SyncTrackSet;
class TextureStore;
struct TextureImage;
class VarPile;
struct Canvas;

class SceneSink {
public:
    virtual ~SceneSink() = default;
    virtual void beginFrame() = 0;
    virtual void setClearDepth(bool clear) = 0;
    // canvas null: the pass keeps its result in the colour buffer; else the
    // picture lands with its top-left corner at canvas pixel (left, top).
    virtual void setOutput(Canvas* canvas, int left, int top) = 0;
    virtual void setViewMatrix(const mat44& view) = 0;
    // Band markers `thickness` rows thick.
    virtual void setShowThreads(bool show, int thickness) = 0;
    virtual void setOutputBias(float bias) = 0;
    virtual void setAmbient(float ambient) = 0;
    virtual void addLight(Light* light) = 0;
    virtual void addInstance(MeshInstance* instance) = 0;
    virtual void transformAll() = 0;
    virtual void renderFrame() = 0;
    virtual void blur(int radius) = 0;
    // renderFrame(), then blur(radius): a sink may do the two together.
    virtual void renderFrameThenBlur(int radius) {
        renderFrame();
        blur(radius);
    }
    virtual void compositeOverlay(int textureIndex, int x, int y, float fade) = 0;
    // An overlay the next renderFrame blends in after drawing, before its
    // output: as compositeOverlay after a pass without output, then an output
    // pass.
    virtual void overlayBeforeResolve(int textureIndex, int x, int y, float fade) = 0;
};

// Overlay images drawn at the picture's scale, by texture index; an index
// without one draws the texture itself (as at 640 x 360).
using ScaledOverlays = std::vector<std::unique_ptr<TextureImage>>;

class RendererSink : public SceneSink {
public:
    RendererSink(Renderer& renderer, const TextureStore& textures,
                 const ScaledOverlays* overlays = nullptr)
        : renderer_(renderer), textures_(textures), overlays_(overlays) {}
    void beginFrame() override;
    void setClearDepth(bool clear) override;
    void setOutput(Canvas* canvas, int left, int top) override;
    void setViewMatrix(const mat44& view) override;
    void setShowThreads(bool show, int thickness) override;
    void setOutputBias(float bias) override;
    void setAmbient(float ambient) override;
    void addLight(Light* light) override;
    void addInstance(MeshInstance* instance) override;
    void transformAll() override;
    void renderFrame() override;
    void blur(int radius) override;
    void renderFrameThenBlur(int radius) override;
    void compositeOverlay(int textureIndex, int x, int y, float fade) override;
    void overlayBeforeResolve(int textureIndex, int x, int y, float fade) override;

protected:
    // After each pass the renderer has drawn, whichever call drew it.
    virtual void passDrawn() {}

private:
    // The image drawn for an overlay texture, or null.
    const TextureImage* overlayImage(int textureIndex) const;

    Renderer& renderer_;
    const TextureStore& textures_;
    const ScaledOverlays* overlays_;
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

// Storage whose elements never move, for what a frame hands the renderer by
// pointer. clear() keeps the blocks, so a frame no larger than an earlier one
// allocates nothing.
template <typename T>
class StablePool {
public:
    T& push(const T& value) {
        const size_t block = count_ / kBlock, slot = count_ % kBlock;
        if (block == blocks_.size()) {
            blocks_.push_back(std::make_unique<std::vector<T>>());
            blocks_.back()->reserve(kBlock);
        }
        std::vector<T>& b = *blocks_[block];
        if (slot < b.size()) {
            b[slot] = value;
        } else {
            b.push_back(value); // within the reserved block: nothing moves
        }
        ++count_;
        return b[slot];
    }
    void clear() { count_ = 0; }
    size_t size() const { return count_; }

private:
    static constexpr size_t kBlock = 64;
    std::vector<std::unique_ptr<std::vector<T>>> blocks_;
    size_t count_ = 0;
};

// The tweak variables a frame reads, looked up once: a VarPile value never
// moves, and a name it lacks is added as 0, as a lookup each frame would add it.
struct FrameVariables {
    explicit FrameVariables(VarPile& vars);

    // The free camera's wobble.
    float &camfloatSpeedFactor, &camfloatAmpX, &camfloatAmpY, &camfloatAmpZ;
    // Every scene.
    float &showThreads, &globalAmbient;
    float &lightDColor, &lightDPower, &lightSColor, &lightSPower;
    // Scene 1, the tube.
    float &tubeAmbient, &tubeSegments, &tubeYInc, &tubeRotFactor, &tubeScale, &enablePlane;
    float &lightSpeed, &lightX, &lightMaxY, &lightZ;
    float &light2X, &light2Z, &light2DPower, &light2SPower;
    float &endtextX, &endtextY;
    // Scenes 2 to 6.
    float &t1Scale, &t1Ypos, &kgScale, &somethingelseScale, &sb1Scale, &sb1YPos, &sb1areaScale;
    float &tileScale, &greetPosX, &greetPosY, &greetPosZ, &mossplumeZ, &greetScale;
    // Scene 7, the buildings.
    float &bldg1PosX, &bldg1PosY, &bldg1PosZ, &bldg1Scale;
};

// The meshes and textures the scenes draw, found by name once; a name the
// stores lack is index 0, the placeholder, as a lookup each frame would find.
struct SceneAssets {
    static constexpr const char* kGreetings[5] = {"g_glimmerfog.obj", "g_vantle.obj",
                                                  "g_sorrel.obj", "g_kestrelcrew.obj",
                                                  "g_mossplumetree.obj"};

    int marker = 0, skyBox = 0;
    int tube = 0, testPlane = 0, testObject = 0;
    int logo = 0, kestrel = 0, kg = 0, somethingElse = 0, sb1 = 0, sb1Area = 0;
    int tile = 0, octo = 0, greetings[5] = {};
    int chunks[4] = {}, facade[3] = {}; // the buildings: first pass, then side, roof, cap
    // The overlay images, end texts first, then titles.
    static constexpr const char* kOverlays[5] = {"e_1.png", "e_2.png", "e_3.png", "t1.png",
                                                 "t2.png"};
    int endTexts[3] = {}; // textures e_1.png to e_3.png
    int titles[2] = {};   // textures t1.png, t2.png

    void resolve(const MeshStore& meshes, const TextureStore& textures);
};

struct BuildingBox {
    MeshInstance instance;
    float* height = nullptr; // the tweak variable "bldg_y_<i>"
};

// What outlives a frame: the names resolved once, the building boxes created on
// the first frame, and the storage of a frame's lights and instances.
struct SceneState {
    std::vector<BuildingBox> buildingBoxes;
    bool firstFrameDone = false;
    SceneAssets assets;
    std::unique_ptr<FrameVariables> variables; // null until prepared
    StablePool<Light> lights;
    StablePool<MeshInstance> instances;

    // Resolves the variables and assets; a state never prepared is prepared on
    // its first frame.
    void prepare(VarPile& vars, const MeshStore& meshes, const TextureStore& textures);
    bool prepared() const { return variables != nullptr; }
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
    PictureLayout layout = layoutPicture(640, 480);

    float track(const SyncTrack* t) const;
    float var(const std::string& name) const;
};

// Runs the block of the scene that round(track("scene")) names (1..7), with the
// building boxes created before the block of scene 7 on the first frame. Returns
// the scene number drawn, 0 when none.
int renderScenes(SceneFrame& frame, SceneSink& sink);

} // namespace lumo
