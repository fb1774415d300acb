#include "app/scenes.h"

#include "app/timeline.h"
#include "assets/texture.h"
#include "params/track.h"
#include "params/varpile.h"
#include "render/renderer.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace lumo {

namespace {

// More tube segments or building boxes than this would not fit the renderer's
// pools anyway; the cap keeps a wild tweak value from allocating without end.
constexpr int kMaxPlacedPerList = 4096;
constexpr float kHalfPi = 1.5707964f;

class Scene {
public:
    Scene(SceneFrame& frame, SceneSink& sink)
        : f_(frame), sink_(sink), v_(*frame.state.variables), assets_(frame.state.assets) {
        // The previous frame is drawn: its lights and instances are free again.
        f_.state.lights.clear();
        f_.state.instances.clear();
    }

    // Steps 1 to 6 of a scene pass; the ambient and the content follow.
    void beginPass(bool first, bool toCanvas) {
        sink_.beginFrame();
        if (first) {
            sink_.setClearDepth(true);
        }
        setOutput(toCanvas);
        sink_.setViewMatrix(f_.view);
        sink_.setShowThreads(v_.showThreads > 0.0f, std::max(1, f_.layout.scaled(1)));
        sink_.setOutputBias(track(f_.tracks.expos));
    }

    // Shows what the colour buffer holds, overlays included.
    void outputPass() {
        sink_.beginFrame();
        setOutput(true);
        sink_.renderFrame();
    }

    void endPass() {
        sink_.transformAll();
        sink_.renderFrame();
    }

    // endPass() and then blur(radius), which the renderer can run together.
    void endPassThenBlur(float radius) {
        sink_.transformAll();
        sink_.renderFrameThenBlur(blurRadius(radius));
    }

    Light& addLight(const Light& light) {
        Light& kept = f_.state.lights.push(light);
        sink_.addLight(&kept);
        return kept;
    }

    // A placed mesh, kept in the frame's storage until the pass is drawn.
    void addPlaced(int mesh, float scale, const vec4& position, const vec4& angles, bool shadow) {
        MeshInstance& instance = f_.state.instances.push(
            MeshInstance::placed(mesh, &f_.meshes, scale, position, angles));
        instance.castsShadow = shadow;
        sink_.addInstance(&instance);
    }

    void add(MeshInstance& instance) { sink_.addInstance(&instance); }

    // A light with the standard colours of the scenes, casting shadows.
    Light standardLight(const vec4& position) {
        Light light;
        light.position = position;
        float c = v_.lightDColor;
        light.color = {c, c, c, 0.0f};
        light.diffuse = v_.lightDPower;
        float s = v_.lightSColor;
        light.specularColor = {s, s, s, 0.0f};
        light.specular = v_.lightSPower;
        light.castsShadow = true;
        return light;
    }

    // A small tetrahedron where the light is, so its position can be seen.
    void marker(const Light& light) {
        addPlaced(assets_.marker, 1.0f, light.position, {0, 0, 0}, false);
    }

    void skyBox(const vec4& angles = {0, 0, 0}) {
        addPlaced(assets_.skyBox, 100.0f, {0, 0, 0}, angles, false);
    }

    // An overlay placed at (x, y) of the 640 x 360 picture: drawn at that place
    // of this one, as large as it is scaled.
    void overlay(int texture, int x, int y, float fade) {
        sink_.compositeOverlay(texture, f_.layout.scaled(x), f_.layout.scaled(y), fade);
    }
    // The same, blended by the next pass before its output.
    void overlayBeforeOutput(int texture, int x, int y, float fade) {
        sink_.overlayBeforeResolve(texture, f_.layout.scaled(x), f_.layout.scaled(y), fade);
    }

    // The tent blur's radius grows with the picture, so that a blurred frame
    // looks the same at any size.
    int blurRadius(float radius) const {
        return truncChoice(float(double(radius) * f_.layout.scale));
    }

    float track(const SyncTrack* t) const { return f_.track(t); }
    double now() const { return f_.now; }
    double distance() const { return f_.distance; }
    const FrameVariables& vars() const { return v_; }
    const SceneAssets& assets() const { return assets_; }
    SceneFrame& frame() { return f_; }
    SceneSink& sink() { return sink_; }

private:
    void setOutput(bool toCanvas) {
        sink_.setOutput(toCanvas ? f_.canvas : nullptr, f_.layout.left, f_.layout.top);
    }

    SceneFrame& f_;
    SceneSink& sink_;
    const FrameVariables& v_;
    const SceneAssets& assets_;
};

// The tube turning around its axis, two lights, the end texts.
void sceneTube(Scene& s) {
    const double now = s.now();
    const FrameVariables& v = s.vars();
    const SceneAssets& a = s.assets();
    // The picture is the pass's, with the end text over it. The pass itself
    // blends the text in and resolves, each band while it is in the cache, to
    // the canvas an output pass after it would write; band markers are drawn
    // per pass, so with them the output pass stays apart.
    const bool apart = v.showThreads > 0.0f;
    s.beginPass(true, !apart);
    s.sink().setAmbient(v.tubeAmbient);

    Light rising = s.standardLight({0, 0, 0, 1});
    // The light climbs and wraps around: the fraction keeps the product's sign.
    float climb = float(double(v.lightSpeed) * now);
    float fraction = climb - std::trunc(climb);
    rising.position = {v.lightX, fraction * v.lightMaxY, v.lightZ, 1.0f};
    rising.castsShadow = false;
    s.marker(s.addLight(rising));

    Light swinging;
    swinging.position = {v.light2X, float((std::sin(now * 0.3) + 1.0) * 100.0 + 120.0), v.light2Z,
                         1.0f};
    swinging.color = {1, 1, 1, 0};
    swinging.diffuse = v.light2DPower;
    swinging.specularColor = {1, 1, 1, 0};
    swinging.specular = v.light2SPower;
    swinging.castsShadow = true;
    s.addLight(swinging);

    for (int i = 0; float(i) < v.tubeSegments && i < kMaxPlacedPerList; ++i) {
        float y = float(i) * v.tubeYInc;
        float turn = float(double(float(i) * v.tubeRotFactor) + s.distance());
        s.addPlaced(a.tube, v.tubeScale, {0, y, 0}, {0, turn, 0}, true);
    }

    s.skyBox({0, float(now * 0.05), float(now * 0.005)});
    if (v.enablePlane > 0.0f) {
        s.addPlaced(a.testPlane, 1.0f, {0, 0, 0}, {0, 0, 0}, false);
    }
    s.addPlaced(a.testObject, 1.0f, {0, 2, 0}, {float(s.distance() * 1.29), float(s.distance()), 0},
                true);

    const int e = roundChoice(s.track(s.frame().tracks.ec));
    const bool endText = e >= 1 && e <= 3;
    const int text = endText ? a.endTexts[e - 1] : -1;
    const int x = truncChoice(v.endtextX), y = truncChoice(v.endtextY);
    const float fade = s.track(s.frame().tracks.ea);
    if (apart) {
        s.endPass();
        if (endText) {
            s.overlay(text, x, y, fade);
        }
        s.outputPass();
        return;
    }
    if (endText) {
        s.overlayBeforeOutput(text, x, y, fade);
    }
    s.endPass();
}

// Scenes 2 to 6 share one shape: a pass to the canvas with one marked,
// shadow-casting light at a fixed place.
void beginLitScene(Scene& s, const vec4& lightPosition, bool setAmbient) {
    s.beginPass(true, true);
    if (setAmbient) {
        s.sink().setAmbient(s.vars().globalAmbient);
    }
    s.marker(s.addLight(s.standardLight(lightPosition)));
}

void sceneLogo(Scene& s) {
    const FrameVariables& v = s.vars();
    beginLitScene(s, {0, 100, 0, 1}, false);
    s.addPlaced(s.assets().logo, v.t1Scale, {0, v.t1Ypos, 0}, {0, 0, 0}, true);
    s.skyBox();
    s.addPlaced(s.assets().kestrel, 2.0f, {60, 60, 20}, {0, 0, 0}, true);
    s.endPass();
}

void sceneKg(Scene& s) {
    beginLitScene(s, {100, 50, 100, 1}, false);
    s.addPlaced(s.assets().kg, s.vars().kgScale, {0, 0, 0}, {0, float(s.distance()), 0}, true);
    s.skyBox();
    s.endPass();
}

void sceneSomethingElse(Scene& s) {
    beginLitScene(s, {100, 50, 100, 1}, false);
    const DemoTracks& t = s.frame().tracks;
    s.addPlaced(s.assets().somethingElse, s.vars().somethingelseScale, {0, 0, 0},
                {s.track(t.x), s.track(t.y), s.track(t.z)}, true);
    s.skyBox();
    s.endPass();
}

void sceneSb1(Scene& s) {
    const FrameVariables& v = s.vars();
    beginLitScene(s, {100, 50, 100, 1}, true);
    double d = s.distance();
    s.addPlaced(s.assets().sb1, v.sb1Scale, {0, v.sb1YPos, 0},
                {float(d * 0.78), float(d), float(d * 0.03)}, true);
    s.skyBox();
    s.addPlaced(s.assets().sb1Area, v.sb1areaScale, {0, 0, 0}, {0, 0, 0}, true);
    s.endPass();
}

void sceneTiles(Scene& s) {
    const FrameVariables& v = s.vars();
    const SceneAssets& a = s.assets();
    beginLitScene(s, {100, 50, 100, 1}, true);
    const DemoTracks& t = s.frame().tracks;
    float tilt = s.track(t.tilyrot);
    for (int i = 0; i <= 4; ++i) {
        for (int j = 0; j <= 9; ++j) {
            s.addPlaced(a.tile, v.tileScale, {10.0f * float(j), 10.0f * float(i), 0},
                        {tilt, tilt, 0}, false);
        }
    }

    int g = roundChoice(s.track(t.greet));
    if (g >= 0 && g < int(std::size(a.greetings))) {
        vec4 position(v.greetPosX, v.greetPosY, v.greetPosZ, 0.0f);
        position.x = s.track(t.greetPos);
        if (g == 4) {
            position.z = v.mossplumeZ;
        }
        s.addPlaced(a.greetings[g], v.greetScale, position, {kHalfPi, 0, 0}, true);
    } else if (g < -100) {
        double st = s.track(t.scenetime);
        vec4 position(float((std::sin(0.4 * st) + 1.0) * 20.0 + 10.0),
                      float((std::sin(0.3 * st) + 1.0) * 15.0 + 10.0), 15.0f);
        double now = s.now();
        s.addPlaced(a.octo, s.track(t.octoscale), position,
                    {float(now * 0.13), float(now * 0.9), float(now * 1.1)}, true);
    }
    s.skyBox();
    s.endPass();
}

void createBuildingBoxes(SceneFrame& f) {
    int n = std::min(truncChoice(f.var("bldg_box_count")), kMaxPlacedPerList);
    for (int i = 0; i < n; ++i) {
        f.state.buildingBoxes.push_back(
            {MeshInstance::placeInstance(&f.meshes, "bldg_box" + std::to_string(i + 1) + ".obj",
                                         1.0f, {0, 0, 0}, {0, 0, 0}),
             &f.vars.get("bldg_y_" + std::to_string(i))});
    }
}

void sceneBuildings(Scene& s) {
    SceneFrame& f = s.frame();
    const FrameVariables& v = s.vars();
    const SceneAssets& a = s.assets();
    const double now = s.now();
    s.beginPass(true, false);
    s.sink().setAmbient(v.globalAmbient);
    s.addLight(s.standardLight({float((std::sin(now * 0.1) + 1.0) * 25.0 + 50.0),
                                float(std::sin(now * 0.25) * 200.0 - 200.0), 60.0f, 1.0f}));
    float rise = s.track(f.tracks.scenetime);
    for (BuildingBox& box : f.state.buildingBoxes) {
        box.instance.placement.m[12] = 0.0f;
        box.instance.placement.m[13] = rise * *box.height;
        box.instance.placement.m[14] = 0.0f;
        box.instance.placement.m[15] = 1.0f;
        box.instance.castsShadow = true;
        s.add(box.instance);
    }
    const vec4 where(v.bldg1PosX, v.bldg1PosY, v.bldg1PosZ, 0.0f);
    const float scale = v.bldg1Scale;
    for (int chunk : a.chunks) {
        s.addPlaced(chunk, scale, where, {0, 0, 0}, true);
    }
    s.endPass();

    // The facade pass keeps the first pass's depth and draws unlit. The output
    // pass below rewrites the whole picture before anything shows the canvas,
    // so this pass leaves the canvas alone: at 1920 x 1080 writing it cost a
    // third of the pass.
    s.beginPass(false, false);
    s.sink().setAmbient(1.0f);
    for (int part : a.facade) {
        s.addPlaced(part, scale, where, {0, 0, 0}, false);
    }
    s.skyBox();
    s.endPassThenBlur(s.track(f.tracks.blur));
    const std::pair<const SyncTrack*, int> titles[] = {{f.tracks.t1Y, a.titles[0]},
                                                       {f.tracks.t2Y, a.titles[1]}};
    for (auto [position, texture] : titles) {
        int y = roundChoice(s.track(position));
        if (y > 0 && y < PictureLayout::kBaseHeight) {
            s.overlay(texture, 0, y, 1.0f);
        }
    }
    s.outputPass();
}

} // namespace

void DemoTracks::request(SyncTrackSet& set) {
    SyncTrack** slots[19] = {&scene,    &scenetime, &expos,   &blur, &camA, &camB, &camT,
                             &speed,    &x,         &y,       &z,    &t1Y,  &t2Y,  &greet,
                             &greetPos, &octoscale, &tilyrot, &ec,   &ea};
    for (int i = 0; i < 19; ++i) {
        *slots[i] = set.getTrack(kNames[i]);
    }
}

FrameVariables::FrameVariables(VarPile& v)
    : camfloatSpeedFactor(v.get("camfloat_speedfactor")), camfloatAmpX(v.get("camfloat_amp_x")),
      camfloatAmpY(v.get("camfloat_amp_y")), camfloatAmpZ(v.get("camfloat_amp_z")),
      showThreads(v.get("show_threads")), globalAmbient(v.get("global_ambient")),
      lightDColor(v.get("light_d_color")), lightDPower(v.get("light_d_power")),
      lightSColor(v.get("light_s_color")), lightSPower(v.get("light_s_power")),
      tubeAmbient(v.get("tube_ambient")), tubeSegments(v.get("tube_segments")),
      tubeYInc(v.get("tube_y_inc")), tubeRotFactor(v.get("tube_rot_factor")),
      tubeScale(v.get("tube_scale")), enablePlane(v.get("enable_plane")),
      lightSpeed(v.get("light_speed")), lightX(v.get("light_x")), lightMaxY(v.get("light_max_y")),
      lightZ(v.get("light_z")), light2X(v.get("light2_x")), light2Z(v.get("light2_z")),
      light2DPower(v.get("light2_d_power")), light2SPower(v.get("light2_s_power")),
      endtextX(v.get("endtext_x")), endtextY(v.get("endtext_y")), t1Scale(v.get("t1_scale")),
      t1Ypos(v.get("t1_ypos")), kgScale(v.get("kg_scale")),
      somethingelseScale(v.get("somethingelse_scale")), sb1Scale(v.get("sb1_scale")),
      sb1YPos(v.get("sb1_y_pos")), sb1areaScale(v.get("sb1area_scale")),
      tileScale(v.get("tile_scale")), greetPosX(v.get("greet_pos_x")),
      greetPosY(v.get("greet_pos_y")), greetPosZ(v.get("greet_pos_z")),
      mossplumeZ(v.get("mossplume_z")), greetScale(v.get("greet_scale")),
      bldg1PosX(v.get("bldg1_pos_x")), bldg1PosY(v.get("bldg1_pos_y")),
      bldg1PosZ(v.get("bldg1_pos_z")), bldg1Scale(v.get("bldg1_scale")) {}

void SceneAssets::resolve(const MeshStore& meshes, const TextureStore& textures) {
    marker = meshes.find("tetra6.obj");
    skyBox = meshes.find("spacebox1.obj");
    tube = meshes.find("tube4a.obj");
    testPlane = meshes.find("testplane.obj");
    testObject = meshes.find("testobj.obj");
    logo = meshes.find("t1.obj");
    kestrel = meshes.find("kestrel.obj");
    kg = meshes.find("kg2.obj");
    somethingElse = meshes.find("somethingelse.obj");
    sb1 = meshes.find("sb1.obj");
    sb1Area = meshes.find("sb1area.obj");
    tile = meshes.find("tile4.obj");
    octo = meshes.find("octo.obj");
    for (size_t i = 0; i < std::size(greetings); ++i) {
        greetings[i] = meshes.find(kGreetings[i]);
    }
    const char* chunkNames[] = {"bldg_chunk1.obj", "bldg_chunk2.obj", "bldg_chunk3.obj",
                                "bldg_chunk4.obj"};
    for (size_t i = 0; i < std::size(chunks); ++i) {
        chunks[i] = meshes.find(chunkNames[i]);
    }
    const char* facadeNames[] = {"bldg_side.obj", "bldg_roof.obj", "bldg_cap.obj"};
    for (size_t i = 0; i < std::size(facade); ++i) {
        facade[i] = meshes.find(facadeNames[i]);
    }
    for (size_t i = 0; i < std::size(endTexts); ++i) {
        endTexts[i] = textures.find(kOverlays[i]);
    }
    titles[0] = textures.find(kOverlays[3]);
    titles[1] = textures.find(kOverlays[4]);
}

void SceneState::prepare(VarPile& vars, const MeshStore& meshes, const TextureStore& textures) {
    variables = std::make_unique<FrameVariables>(vars);
    assets.resolve(meshes, textures);
}

float SceneFrame::track(const SyncTrack* t) const {
    return t ? t->valueAt(row) : 0.0f;
}

float SceneFrame::var(const std::string& name) const {
    return vars.get(name);
}

int renderScenes(SceneFrame& frame, SceneSink& sink) {
    if (!frame.state.prepared()) {
        frame.state.prepare(frame.vars, frame.meshes, frame.textures);
    }
    int selected = roundChoice(frame.track(frame.tracks.scene));
    Scene scene(frame, sink);
    switch (selected) {
    case 1:
        sceneTube(scene);
        break;
    case 2:
        sceneLogo(scene);
        break;
    case 3:
        sceneKg(scene);
        break;
    case 4:
        sceneSomethingElse(scene);
        break;
    case 5:
        sceneSb1(scene);
        break;
    case 6:
        sceneTiles(scene);
        break;
    default:
        break;
    }
    if (!frame.state.firstFrameDone) {
        frame.state.firstFrameDone = true;
        createBuildingBoxes(frame);
    }
    if (selected == 7) {
        sceneBuildings(scene);
    }
    return selected >= 1 && selected <= 7 ? selected : 0;
}

void RendererSink::beginFrame() {
    renderer_.beginFrame();
}
void RendererSink::setClearDepth(bool clear) {
    renderer_.setClearDepth(clear);
}
void RendererSink::setOutput(Canvas* canvas, int left, int top) {
    renderer_.setOutput(canvas, left, top);
}
void RendererSink::setViewMatrix(const mat44& view) {
    renderer_.setViewMatrix(view);
}
void RendererSink::setShowThreads(bool show, int thickness) {
    renderer_.setShowThreads(show, thickness);
}
void RendererSink::setOutputBias(float bias) {
    renderer_.setOutputBias(bias);
}
void RendererSink::setAmbient(float ambient) {
    renderer_.setAmbient(ambient);
}
void RendererSink::addLight(Light* light) {
    renderer_.addLight(light);
}
void RendererSink::addInstance(MeshInstance* instance) {
    renderer_.addInstance(instance);
}
void RendererSink::transformAll() {
    renderer_.transformAll();
}
void RendererSink::renderFrame() {
    renderer_.renderFrame();
    passDrawn();
}
void RendererSink::blur(int radius) {
    renderer_.blur(radius);
}

void RendererSink::renderFrameThenBlur(int radius) {
    renderer_.renderFrameThenBlur(radius);
    passDrawn();
}

const TextureImage* RendererSink::overlayImage(int textureIndex) const {
    if (textureIndex < 0 || textureIndex >= textures_.size()) {
        return nullptr;
    }
    if (overlays_ && size_t(textureIndex) < overlays_->size() && (*overlays_)[textureIndex]) {
        return (*overlays_)[textureIndex].get();
    }
    return textures_[textureIndex].image.get();
}

void RendererSink::compositeOverlay(int textureIndex, int x, int y, float fade) {
    if (const TextureImage* image = overlayImage(textureIndex)) {
        renderer_.compositeOverlay(*image, x, y, fade);
    }
}

void RendererSink::overlayBeforeResolve(int textureIndex, int x, int y, float fade) {
    if (const TextureImage* image = overlayImage(textureIndex)) {
        renderer_.overlayBeforeResolve(*image, x, y, fade);
    }
}

} // namespace lumo
