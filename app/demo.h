#pragma once
// What one run of the demo owns apart from the music and the window: the tweak
// variables, the asset stores, the render buffers and renderer, the tracks and
// the scene machinery. The live main loop and the headless tools build it with
// the same steps and draw frames with the same call, so a headless frame is the
// frame the demo shows at that position.

#include "app/camera.h"
#include "app/scenes.h"
#include "assets/mesh.h"
#include "assets/texture.h"
#include "params/track.h"
#include "params/varpile.h"
#include "render/buffers.h"
#include "render/renderer.h"

#include <memory>
#include <string>
#include <vector>

namespace lumo {

// Where the camera comes from this frame: the free camera's state.
struct CameraInput {
    bool freeCamera = false;
    vec4 position;
    vec4 angles;
};

class DemoSession {
public:
    // The frame the demo draws into, 640 x 360 unless the caller sets another
    // before createRenderer.
    explicit DemoSession(std::string dataDirectory);
    ~DemoSession();
    DemoSession(const DemoSession&) = delete;
    DemoSession& operator=(const DemoSession&) = delete;

    // The set-up steps, in the order the demo takes them.
    void loadVariables();
    // Textures and meshes stores, then both directories, then the overlays at
    // the layout's scale.
    void loadAssets();
    // Buffers for the layout's picture (padded to whole tiles), then the
    // renderer pointed at them.
    void createRenderer(int threads);
    bool createTracks();  // false: the set could not be made
    void prepareScenes(); // noise tables; the names the scenes use, resolved

    // Camera, then the selected scene into canvas, a frame of the layout's
    // size, the picture at its place. now is the frame's time in seconds (the
    // camera wobble and the scenes' own motion follow it), distance the
    // integral of "speed" so far.
    // Returns the scene number drawn, 0 for none. The scenes go through `sink`
    // when one is given (it must render, as RendererSink does), else straight
    // to the renderer.
    int renderFrame(double row, double now, double distance, const CameraInput& camera,
                    Canvas* canvas, SceneSink* sink = nullptr);

    // Tear-down, in the stop order (each safe to call twice).
    void releaseTracks();
    void releaseRenderer();
    void releaseAssets();
    void releaseVariables();

    const std::string dataDirectory;
    PictureLayout layout = layoutPicture(PictureLayout::kBaseWidth, PictureLayout::kBaseHeight);
    std::unique_ptr<VarPile> vars;
    std::unique_ptr<TextureStore> textures;
    std::unique_ptr<MeshStore> meshes;
    ScaledOverlays overlays; // empty at the 640 x 360 picture's own scale
    std::unique_ptr<ColorBuffer> color;
    std::unique_ptr<DepthBuffer> depth;
    std::unique_ptr<StencilBuffer> stencil;
    std::unique_ptr<Renderer> renderer;
    std::vector<CameraKey> cameraKeys = defaultCameraKeys();
    SyncTrackSet* trackSet = nullptr;
    DemoTracks tracks;
    CameraNoise noise;
    SceneState scenes;
};

} // namespace lumo
