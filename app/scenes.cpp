#include "app/scenes.h"

#include "assets/texture.h"
#include "params/track.h"
#include "params/varpile.h"
#include "render/renderer.h"

#include <algorithm>
#include <cmath>
#include <deque>

namespace lumo {

namespace {

// More tube segments or building boxes than this would not fit the renderer's
// pools anyway; the cap keeps a wild tweak value from allocating without end.
constexpr int kMaxPlacedPerList = 4096;
constexpr float kHalfPi = 1.5707964f;

// Lights and instances of one frame. A deque never moves its elements, so the
// pointers handed to the renderer stay valid while the frame grows.
struct FrameObjects {
    std::deque<Light> lights;
    std::deque<MeshInstance> instances;
};

class Scene {
public:
    Scene(SceneFrame& frame, SceneSink& sink) : f_(frame), sink_(sink) {}

    // Steps 1 to 6 of a scene pass; the ambient and the content follow.
    void beginPass(bool first, bool toCanvas) {
        sink_.beginFrame();
        if (first) {
            sink_.setClearDepth(true);
        }
        setOutput(toCanvas);
        sink_.setViewMatrix(f_.view);
        sink_.setShowThreads(var("show_threads") > 0.0f);
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

    Light& addLight(const Light& light) {
        objects_.lights.push_back(light);
        sink_.addLight(&objects_.lights.back());
        return objects_.lights.back();
    }

    MeshInstance& place(const std::string& mesh, float scale, const vec4& position,
                        const vec4& angles, bool shadow) {
        objects_.instances.push_back(
            MeshInstance::placeInstance(&f_.meshes, mesh, scale, position, angles));
        objects_.instances.back().castsShadow = shadow;
        return objects_.instances.back();
    }

    void add(MeshInstance& instance) { sink_.addInstance(&instance); }

    void addPlaced(const std::string& mesh, float scale, const vec4& position, const vec4& angles,
                   bool shadow) {
        add(place(mesh, scale, position, angles, shadow));
    }

    // A light with the standard colours of the scenes, casting shadows.
    Light standardLight(const vec4& position) {
        Light light;
        light.position = position;
        float c = var("light_d_color");
        light.color = {c, c, c, 0.0f};
        light.diffuse = var("light_d_power");
        float s = var("light_s_color");
        light.specularColor = {s, s, s, 0.0f};
        light.specular = var("light_s_power");
        light.castsShadow = true;
        return light;
    }

    // A small tetrahedron where the light is, so its position can be seen.
    void marker(const Light& light) {
        addPlaced("tetra6.obj", 1.0f, light.position, {0, 0, 0}, false);
    }

    void skyBox(const vec4& angles = {0, 0, 0}) {
        addPlaced("spacebox1.obj", 100.0f, {0, 0, 0}, angles, false);
    }

    void overlay(const std::string& textureName, int x, int y, float fade) {
        sink_.compositeOverlay(f_.textures.find(textureName), x, y, fade);
    }

    float var(const std::string& name) { return f_.vars.get(name); }
    vec4 vec(const std::string& name) { return f_.vars.getVec(name); }
    float track(const SyncTrack* t) const { return f_.track(t); }
    double now() const { return f_.now; }
    double distance() const { return f_.distance; }
    SceneFrame& frame() { return f_; }
    SceneSink& sink() { return sink_; }

private:
    void setOutput(bool toCanvas) {
        sink_.setOutput(toCanvas ? f_.canvas : nullptr, f_.windowHeight == 480 ? 60 : 0);
    }

    SceneFrame& f_;
    SceneSink& sink_;
    FrameObjects objects_;
};

// The tube turning around its axis, two lights, the end texts.
void sceneTube(Scene& s) {
    const double now = s.now();
    s.beginPass(true, false);
    s.sink().setAmbient(s.var("tube_ambient"));

    Light rising = s.standardLight({0, 0, 0, 1});
    // The light climbs and wraps around: the fraction keeps the product's sign.
    float climb = float(double(s.var("light_speed")) * now);
    float fraction = climb - std::trunc(climb);
    rising.position = {s.var("light_x"), fraction * s.var("light_max_y"), s.var("light_z"), 1.0f};
    rising.castsShadow = false;
    s.marker(s.addLight(rising));

    Light swinging;
    swinging.position = {s.var("light2_x"), float((std::sin(now * 0.3) + 1.0) * 100.0 + 120.0),
                         s.var("light2_z"), 1.0f};
    swinging.color = {1, 1, 1, 0};
    swinging.diffuse = s.var("light2_d_power");
    swinging.specularColor = {1, 1, 1, 0};
    swinging.specular = s.var("light2_s_power");
    swinging.castsShadow = true;
    s.addLight(swinging);

    float segments = s.var("tube_segments");
    std::vector<MeshInstance*> tube;
    for (int i = 0; float(i) < segments && i < kMaxPlacedPerList; ++i) {
        float y = float(i) * s.var("tube_y_inc");
        float turn = float(double(float(i) * s.var("tube_rot_factor")) + s.distance());
        tube.push_back(&s.place("tube4a.obj", s.var("tube_scale"), {0, y, 0}, {0, turn, 0}, true));
    }
    for (MeshInstance* segment : tube) {
        s.add(*segment);
    }

    s.skyBox({0, float(now * 0.05), float(now * 0.005)});
    if (s.var("enable_plane") > 0.0f) {
        s.addPlaced("testplane.obj", 1.0f, {0, 0, 0}, {0, 0, 0}, false);
    }
    s.addPlaced("testobj.obj", 1.0f, {0, 2, 0},
                {float(s.distance() * 1.29), float(s.distance()), 0}, true);
    s.endPass();

    int e = roundChoice(s.track(s.frame().tracks.ec));
    if (e >= 1 && e <= 3) {
        s.overlay("e_" + std::to_string(e) + ".png", truncChoice(s.var("endtext_x")),
                  truncChoice(s.var("endtext_y")), s.track(s.frame().tracks.ea));
    }
    s.outputPass();
}

// Scenes 2 to 6 share one shape: a pass to the canvas with one marked,
// shadow-casting light at a fixed place.
void beginLitScene(Scene& s, const vec4& lightPosition, bool setAmbient) {
    s.beginPass(true, true);
    if (setAmbient) {
        s.sink().setAmbient(s.var("global_ambient"));
    }
    s.marker(s.addLight(s.standardLight(lightPosition)));
}

void sceneLogo(Scene& s) {
    beginLitScene(s, {0, 100, 0, 1}, false);
    s.addPlaced("t1.obj", s.var("t1_scale"), {0, s.var("t1_ypos"), 0}, {0, 0, 0}, true);
    s.skyBox();
    s.addPlaced("kestrel.obj", 2.0f, {60, 60, 20}, {0, 0, 0}, true);
    s.endPass();
}

void sceneKg(Scene& s) {
    beginLitScene(s, {100, 50, 100, 1}, false);
    s.addPlaced("kg2.obj", s.var("kg_scale"), {0, 0, 0}, {0, float(s.distance()), 0}, true);
    s.skyBox();
    s.endPass();
}

void sceneSomethingElse(Scene& s) {
    beginLitScene(s, {100, 50, 100, 1}, false);
    const DemoTracks& t = s.frame().tracks;
    s.addPlaced("somethingelse.obj", s.var("somethingelse_scale"), {0, 0, 0},
                {s.track(t.x), s.track(t.y), s.track(t.z)}, true);
    s.skyBox();
    s.endPass();
}

void sceneSb1(Scene& s) {
    beginLitScene(s, {100, 50, 100, 1}, true);
    double d = s.distance();
    s.addPlaced("sb1.obj", s.var("sb1_scale"), {0, s.var("sb1_y_pos"), 0},
                {float(d * 0.78), float(d), float(d * 0.03)}, true);
    s.skyBox();
    s.addPlaced("sb1area.obj", s.var("sb1area_scale"), {0, 0, 0}, {0, 0, 0}, true);
    s.endPass();
}

void sceneTiles(Scene& s) {
    beginLitScene(s, {100, 50, 100, 1}, true);
    const DemoTracks& t = s.frame().tracks;
    float tilt = s.track(t.tilyrot);
    std::vector<MeshInstance*> tiles;
    for (int i = 0; i <= 4; ++i) {
        for (int j = 0; j <= 9; ++j) {
            tiles.push_back(&s.place("tile4.obj", s.var("tile_scale"),
                                     {10.0f * float(j), 10.0f * float(i), 0}, {tilt, tilt, 0},
                                     false));
        }
    }
    for (MeshInstance* tile : tiles) {
        s.add(*tile);
    }

    int g = roundChoice(s.track(t.greet));
    const std::vector<std::string>& names = s.frame().state.greetingNames;
    if (g >= 0 && g < int(names.size())) {
        vec4 position = s.vec("greet_pos");
        position.x = s.track(t.greetPos);
        if (g == 4) {
            position.z = s.var("mossplume_z");
        }
        s.addPlaced(names[g], s.var("greet_scale"), position, {kHalfPi, 0, 0}, true);
    } else if (g < -100) {
        double st = s.track(t.scenetime);
        vec4 position(float((std::sin(0.4 * st) + 1.0) * 20.0 + 10.0),
                      float((std::sin(0.3 * st) + 1.0) * 15.0 + 10.0), 15.0f);
        double now = s.now();
        s.addPlaced("octo.obj", s.track(t.octoscale), position,
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
             "bldg_y_" + std::to_string(i)});
    }
}

void sceneBuildings(Scene& s) {
    SceneFrame& f = s.frame();
    const double now = s.now();
    s.beginPass(true, false);
    s.sink().setAmbient(s.var("global_ambient"));
    s.addLight(s.standardLight({float((std::sin(now * 0.1) + 1.0) * 25.0 + 50.0),
                                float(std::sin(now * 0.25) * 200.0 - 200.0), 60.0f, 1.0f}));
    float rise = s.track(f.tracks.scenetime);
    for (BuildingBox& box : f.state.buildingBoxes) {
        box.instance.placement.m[12] = 0.0f;
        box.instance.placement.m[13] = rise * s.var(box.heightName);
        box.instance.placement.m[14] = 0.0f;
        box.instance.placement.m[15] = 1.0f;
        box.instance.castsShadow = true;
        s.add(box.instance);
    }
    vec4 where = s.vec("bldg1_pos");
    float scale = s.var("bldg1_scale");
    for (const char* chunk :
         {"bldg_chunk1.obj", "bldg_chunk2.obj", "bldg_chunk3.obj", "bldg_chunk4.obj"}) {
        s.addPlaced(chunk, scale, where, {0, 0, 0}, true);
    }
    s.endPass();

    // The facade pass keeps the first pass's depth and draws unlit.
    s.beginPass(false, true);
    s.sink().setAmbient(1.0f);
    for (const char* part : {"bldg_side.obj", "bldg_roof.obj", "bldg_cap.obj"}) {
        s.addPlaced(part, scale, where, {0, 0, 0}, false);
    }
    s.skyBox();
    s.endPass();

    s.sink().blur(truncChoice(s.track(f.tracks.blur)));
    const std::pair<const SyncTrack*, const char*> titles[] = {{f.tracks.t1Y, "t1.png"},
                                                               {f.tracks.t2Y, "t2.png"}};
    for (auto [position, texture] : titles) {
        int v = roundChoice(s.track(position));
        if (v > 0 && v < 360) {
            s.overlay(texture, 0, v, 1.0f);
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

void SceneState::fillGreetingNames() {
    greetingNames = {"g_glimmerfog.obj", "g_vantle.obj", "g_sorrel.obj", "g_kestrelcrew.obj",
                     "g_mossplumetree.obj"};
}

float SceneFrame::track(const SyncTrack* t) const {
    return t ? t->valueAt(row) : 0.0f;
}

float SceneFrame::var(const std::string& name) const {
    return vars.get(name);
}

int renderScenes(SceneFrame& frame, SceneSink& sink) {
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

namespace {
constexpr double kDistanceStep = 1.0 / 240.0;
constexpr long kMaxDistanceSteps = 24L * 3600 * 240;
} // namespace

double distanceAt(const SyncTrack* speed, double seconds) {
    DistanceClock clock;
    return clock.at(speed, seconds);
}

double DistanceClock::at(const SyncTrack* speed, double seconds) {
    if (!(seconds > 0.0) || !speed) {
        return 0.0;
    }
    if (speed != speed_ || double(steps_) * kDistanceStep > seconds) {
        speed_ = speed;
        steps_ = 0;
        sum_ = 0.0;
    }
    // Whole steps: each adds the speed at its end times its length, as the live
    // loop adds the speed at the frame's row times the frame's length. Past the
    // last key the speed is constant, so the steps stop one beyond it (and a
    // day in at most) and the rest is one product: far positions cost no time.
    long lastStep = kMaxDistanceSteps;
    if (speed->keyCount > 0) {
        double lastKey = double(speed->keys[speed->keyCount - 1].row) / 14.666666666666666;
        lastStep = long(
            std::clamp(std::ceil(lastKey / kDistanceStep) + 1.0, 0.0, double(kMaxDistanceSteps)));
    }
    while (steps_ < lastStep && double(steps_ + 1) * kDistanceStep <= seconds) {
        ++steps_;
        double t = double(steps_) * kDistanceStep;
        sum_ += double(speed->valueAt(t * 14.666666666666666)) * kDistanceStep;
    }
    double covered = double(steps_) * kDistanceStep;
    if (covered >= seconds) {
        return sum_;
    }
    return sum_ + double(speed->valueAt(seconds * 14.666666666666666)) * (seconds - covered);
}

void RendererSink::beginFrame() {
    renderer_.beginFrame();
}
void RendererSink::setClearDepth(bool clear) {
    renderer_.setClearDepth(clear);
}
void RendererSink::setOutput(Canvas* canvas, int rowOffset) {
    renderer_.setOutput(canvas, rowOffset);
}
void RendererSink::setViewMatrix(const mat44& view) {
    renderer_.setViewMatrix(view);
}
void RendererSink::setShowThreads(bool show) {
    renderer_.setShowThreads(show);
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
}
void RendererSink::blur(int radius) {
    renderer_.blur(radius);
}
void RendererSink::compositeOverlay(int textureIndex, int x, int y, float fade) {
    if (textureIndex < 0 || textureIndex >= textures_.size()) {
        return;
    }
    const Texture& texture = textures_[textureIndex];
    if (texture.image) {
        renderer_.compositeOverlay(*texture.image, x, y, fade);
    }
}

} // namespace lumo
