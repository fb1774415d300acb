#include "app/demo.h"

#include "assets/overlay.h"

namespace lumo {

DemoSession::DemoSession(std::string directory) : dataDirectory(std::move(directory)) {}

DemoSession::~DemoSession() {
    releaseTracks();
    releaseRenderer();
    releaseAssets();
    releaseVariables();
}

void DemoSession::loadVariables() {
    vars = std::make_unique<VarPile>(dataDirectory, "varpile.txt");
}

void DemoSession::loadAssets() {
    textures = std::make_unique<TextureStore>();
    meshes = std::make_unique<MeshStore>();
    meshes->loadDirectory(dataDirectory + "meshes/", *textures);
    textures->loadDirectory(dataDirectory + "textures/");
    if (layout.scale != 1.0) {
        overlays.resize(size_t(textures->size()));
        for (const char* name : SceneAssets::kOverlays) {
            const int index = textures->find(name);
            if (index > 0) { // 0: the placeholder, drawn as it is
                overlays[size_t(index)] =
                    overlayForScale(*textures, dataDirectory + "textures/", name, layout.scale);
            }
        }
    }
}

void DemoSession::createRenderer(int threads) {
    const int w = wholeTiles(layout.width), h = wholeTiles(layout.height);
    color = std::make_unique<ColorBuffer>(w, h);
    depth = std::make_unique<DepthBuffer>(w, h);
    stencil = std::make_unique<StencilBuffer>(w, h);
    renderer = std::make_unique<Renderer>(
        RenderTargets{color.get(), depth.get(), stencil.get(), layout.width, layout.height},
        textures.get(), threads);
}

bool DemoSession::createTracks() {
    trackSet = SyncTrackSet::create(dataDirectory + "sync");
    if (!trackSet) {
        return false;
    }
    tracks.request(*trackSet);
    return true;
}

void DemoSession::prepareScenes() {
    noise.build();
    scenes.prepare(*vars, *meshes, *textures);
}

int DemoSession::renderFrame(double row, double now, double distance, const CameraInput& camera,
                             Canvas* canvas, SceneSink* sink) {
    SceneFrame frame{*vars, *meshes, *textures, tracks, scenes};
    if (!scenes.prepared()) {
        scenes.prepare(*vars, *meshes, *textures);
    }
    // The noise is computed every frame, whichever camera is in use.
    const FrameVariables& v = *scenes.variables;
    vec4 wobble = noise.cameraFloat(now, v.camfloatSpeedFactor,
                                    {v.camfloatAmpX, v.camfloatAmpY, v.camfloatAmpZ, 0.0f});
    mat44 view = camera.freeCamera
                     ? freeView(camera.position, camera.angles, wobble)
                     : keyframeView(cameraKeys, tracks.camA, tracks.camB, tracks.camT, row);
    frame.row = row;
    frame.now = now;
    frame.distance = distance;
    frame.view = view;
    frame.canvas = canvas;
    frame.layout = layout;
    if (sink) {
        return renderScenes(frame, *sink);
    }
    RendererSink direct(*renderer, *textures, &overlays);
    return renderScenes(frame, direct);
}

void DemoSession::releaseTracks() {
    if (trackSet) {
        trackSet->destroy();
        trackSet = nullptr;
    }
    tracks = DemoTracks{};
}

void DemoSession::releaseRenderer() {
    // The building boxes point into the mesh store; they go with the renderer's
    // frame state, before the stores.
    renderer.reset();
    color.reset();
    stencil.reset();
    depth.reset();
}

void DemoSession::releaseAssets() {
    // The scene state holds mesh indices, building boxes and references to the
    // tweak variables: it goes before the stores and the variables.
    scenes = SceneState();
    overlays.clear();
    meshes.reset();
    textures.reset();
}

void DemoSession::releaseVariables() {
    vars.reset();
}

} // namespace lumo
