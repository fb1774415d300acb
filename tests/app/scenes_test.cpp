// What each scene submits, recorded through the scene seam instead of rendered.

#include "app/camera.h"
#include "app/scenes.h"

#include "assets/mesh.h"
#include "assets/texture.h"
#include "params/track.h"
#include "params/varpile.h"
#include "render/buffers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace lumo;

namespace {

struct Call {
    std::string kind;
    std::string mesh; // instances; texture name for overlays
    float scale = 0;
    vec4 position;
    mat44 rotation;
    bool shadow = false;
    Light light;
    int a = 0, b = 0;
    float value = 0;
    const Canvas* canvas = nullptr;
};

class RecordingSink : public SceneSink {
public:
    RecordingSink(const MeshStore& meshes, const TextureStore& textures)
        : meshes_(meshes), textures_(textures) {}

    void beginFrame() override { push("begin"); }
    void setClearDepth(bool clear) override { push("clearDepth").a = clear; }
    void setOutput(Canvas* canvas, int rowOffset) override {
        Call& c = push("output");
        c.canvas = canvas;
        c.a = rowOffset;
    }
    void setViewMatrix(const mat44& view) override { push("view").rotation = view; }
    void setShowThreads(bool show) override { push("threads").a = show; }
    void setOutputBias(float bias) override { push("bias").value = bias; }
    void setAmbient(float ambient) override { push("ambient").value = ambient; }
    void addLight(Light* light) override { push("light").light = *light; }
    void addInstance(MeshInstance* instance) override {
        Call& c = push("instance");
        c.mesh = meshes_[instance->meshIndex].name;
        c.scale = instance->scale;
        c.position = {instance->placement.m[12], instance->placement.m[13],
                      instance->placement.m[14], instance->placement.m[15]};
        c.rotation = instance->rotation;
        c.shadow = instance->castsShadow;
    }
    void transformAll() override { push("transform"); }
    void renderFrame() override { push("render"); }
    void blur(int radius) override { push("blur").a = radius; }
    void compositeOverlay(int textureIndex, int x, int y, float fade) override {
        Call& c = push("overlay");
        c.mesh = textures_[textureIndex].name;
        c.a = x;
        c.b = y;
        c.value = fade;
    }

    std::vector<Call> calls;

    std::vector<Call> of(const std::string& kind) const {
        std::vector<Call> out;
        for (const Call& c : calls) {
            if (c.kind == kind) {
                out.push_back(c);
            }
        }
        return out;
    }
    std::vector<std::string> meshNames() const {
        std::vector<std::string> out;
        for (const Call& c : of("instance")) {
            out.push_back(c.mesh);
        }
        return out;
    }
    // The call kinds in order, a run of instances shown once.
    std::string kinds() const {
        std::string out, last;
        for (const Call& c : calls) {
            if (!(c.kind == "instance" && last == "instance")) {
                out += c.kind + " ";
            }
            last = c.kind;
        }
        return out;
    }

private:
    Call& push(const std::string& kind) {
        calls.push_back({});
        calls.back().kind = kind;
        return calls.back();
    }
    const MeshStore& meshes_;
    const TextureStore& textures_;
};

SyncTrack constantTrack(const std::string& name, float value) {
    SyncTrack t(name);
    t.keys = {{0, value, Hold}};
    t.keyCount = 1;
    return t;
}

class Scenes : public testing::Test {
protected:
    Scenes() : vars("/nonexistent/", "varpile.txt") {}

    void SetUp() override {
        for (const char* name :
             {"tetra6.obj",          "spacebox1.obj",   "tube4a.obj",      "testplane.obj",
              "testobj.obj",         "t1.obj",          "kestrel.obj",     "kg2.obj",
              "somethingelse.obj",   "sb1.obj",         "sb1area.obj",     "tile4.obj",
              "g_glimmerfog.obj",    "g_vantle.obj",    "g_sorrel.obj",    "g_kestrelcrew.obj",
              "g_mossplumetree.obj", "octo.obj",        "bldg_box1.obj",   "bldg_box2.obj",
              "bldg_chunk1.obj",     "bldg_chunk2.obj", "bldg_chunk3.obj", "bldg_chunk4.obj",
              "bldg_side.obj",       "bldg_roof.obj",   "bldg_cap.obj"}) {
            auto mesh = std::make_unique<Mesh>();
            mesh->name = name;
            meshes.add(std::move(mesh));
        }
        for (const char* name : {"e_1.png", "e_2.png", "e_3.png", "t1.png", "t2.png"}) {
            auto texture = std::make_unique<Texture>();
            texture->name = name;
            texture->image = std::make_unique<TextureImage>();
            textures.add(std::move(texture));
        }
        state.fillGreetingNames();
        vars.parse("light_d_color 0.9\nlight_d_power 5000\nlight_s_color 0.5\nlight_s_power 200\n"
                   "show_threads 1\n");
    }

    // Sets a track to a constant for this test.
    void set(SyncTrack*& slot, const std::string& name, float value) {
        owned.push_back(std::make_unique<SyncTrack>(constantTrack(name, value)));
        slot = owned.back().get();
    }

    RecordingSink run(double now = 2.0, double distance = 0.5) {
        RecordingSink sink(meshes, textures);
        SceneFrame frame{vars, meshes, textures, tracks, state};
        frame.now = now;
        frame.distance = distance;
        frame.canvas = &canvas;
        frame.windowHeight = 480;
        drawn = renderScenes(frame, sink);
        return sink;
    }

    VarPile vars;
    MeshStore meshes;
    TextureStore textures;
    DemoTracks tracks;
    SceneState state;
    Canvas canvas;
    std::vector<std::unique_ptr<SyncTrack>> owned;
    int drawn = -1;
};

} // namespace

TEST_F(Scenes, SelectionRoundsTheSceneTrack) {
    for (auto [value, expected] : {std::pair{6.4f, 6},
                                   {6.6f, 7},
                                   {0.0f, 0},
                                   {8.0f, 0},
                                   {0.49f, 0},
                                   {-3.0f, 0},
                                   {1e20f, 0},
                                   {1.5f, 2}}) {
        set(tracks.scene, "scene", value);
        RecordingSink sink = run();
        EXPECT_EQ(drawn, expected) << value;
        if (expected == 0) {
            EXPECT_TRUE(sink.calls.empty()) << value; // the canvas is not touched
        }
    }
}

TEST_F(Scenes, TubeSceneSubmitsItsLightsSegmentsAndEndText) {
    set(tracks.scene, "scene", 1);
    set(tracks.ec, "ec", 2);
    set(tracks.ea, "ea", 0.75f);
    set(tracks.expos, "expos", -0.125f);
    vars.parse("tube_segments 2.5\ntube_y_inc 12\ntube_rot_factor 0.25\ntube_scale 3\n"
               "light_speed 0.3\nlight_max_y 100\nlight_x 5\nlight_z 7\ntube_ambient 0.2\n"
               "endtext_x 10.9\nendtext_y 300\nlight2_x 1\nlight2_z 2\n");
    RecordingSink sink = run(4.0, 0.5);

    EXPECT_EQ(sink.kinds(), "begin clearDepth output view threads bias ambient light instance "
                            "light instance transform render overlay begin output render ");
    std::vector<Call> outputs = sink.of("output");
    EXPECT_EQ(outputs[0].canvas, nullptr);
    EXPECT_EQ(outputs[1].canvas, &canvas);
    EXPECT_EQ(outputs[1].a, 60);
    EXPECT_EQ(sink.of("bias")[0].value, -0.125f);
    EXPECT_EQ(sink.of("ambient")[0].value, 0.2f);
    EXPECT_EQ(sink.of("threads")[0].a, 1);

    std::vector<Call> lights = sink.of("light");
    ASSERT_EQ(lights.size(), 2u);
    // 0.3 * 4 = 1.2: the light is at 0.2 of its climb.
    EXPECT_FLOAT_EQ(lights[0].light.position.y, (1.2f - 1.0f) * 100.0f);
    EXPECT_EQ(lights[0].light.position.x, 5.0f);
    EXPECT_FALSE(lights[0].light.castsShadow);
    EXPECT_EQ(lights[0].light.color, vec4(0.9f, 0.9f, 0.9f, 0));
    EXPECT_FLOAT_EQ(lights[1].light.position.y, float((std::sin(1.2) + 1) * 100 + 120));
    EXPECT_TRUE(lights[1].light.castsShadow);
    EXPECT_EQ(lights[1].light.color, vec4(1, 1, 1, 0));

    std::vector<std::string> names = sink.meshNames();
    std::vector<std::string> expected = {"tetra6.obj", "tube4a.obj",    "tube4a.obj",
                                         "tube4a.obj", "spacebox1.obj", "testobj.obj"};
    EXPECT_EQ(names, expected); // no plane: enable_plane is absent
    std::vector<Call> instances = sink.of("instance");
    EXPECT_EQ(instances[0].position, lights[0].light.position); // the marker
    EXPECT_EQ(instances[3].position, vec4(0, 24, 0, 1));
    EXPECT_EQ(instances[3].scale, 3.0f);
    EXPECT_TRUE(instances[3].shadow);
    mat44 turn = eulerRotation({0, float(2 * 0.25f + 0.5), 0});
    EXPECT_EQ(instances[3].rotation, turn);
    EXPECT_FALSE(instances[4].shadow);

    std::vector<Call> overlays = sink.of("overlay");
    ASSERT_EQ(overlays.size(), 1u);
    EXPECT_EQ(overlays[0].mesh, "e_2.png");
    EXPECT_EQ(overlays[0].a, 10);
    EXPECT_EQ(overlays[0].b, 300);
    EXPECT_EQ(overlays[0].value, 0.75f);

    for (float ec : {0.0f, 4.0f}) {
        set(tracks.ec, "ec", ec);
        EXPECT_TRUE(run().of("overlay").empty()) << ec;
    }
    vars.parse("tube_segments 0\nenable_plane 1\n");
    names = run().meshNames();
    expected = {"tetra6.obj", "spacebox1.obj", "testplane.obj", "testobj.obj"};
    EXPECT_EQ(names, expected);
}

TEST_F(Scenes, LitScenesTwoToFive) {
    vars.parse("global_ambient 0.3\nt1_ypos 9\nt1_scale 2\n");
    struct Case {
        float scene;
        vec4 light;
        bool ambient;
        std::vector<std::string> meshes;
    };
    for (const Case& c :
         {Case{2, {0, 100, 0, 1}, false, {"tetra6.obj", "t1.obj", "spacebox1.obj", "kestrel.obj"}},
          Case{3, {100, 50, 100, 1}, false, {"tetra6.obj", "kg2.obj", "spacebox1.obj"}},
          Case{4, {100, 50, 100, 1}, false, {"tetra6.obj", "somethingelse.obj", "spacebox1.obj"}},
          Case{5,
               {100, 50, 100, 1},
               true,
               {"tetra6.obj", "sb1.obj", "spacebox1.obj", "sb1area.obj"}}}) {
        set(tracks.scene, "scene", c.scene);
        RecordingSink sink = run();
        ASSERT_EQ(sink.of("light").size(), 1u);
        EXPECT_EQ(sink.of("light")[0].light.position, c.light);
        EXPECT_TRUE(sink.of("light")[0].light.castsShadow);
        EXPECT_EQ(sink.of("ambient").size(), c.ambient ? 1u : 0u) << c.scene;
        EXPECT_EQ(sink.meshNames(), c.meshes) << c.scene;
        EXPECT_EQ(sink.of("output")[0].canvas, &canvas);
        EXPECT_EQ(sink.of("render").size(), 1u);
        for (const Call& i : sink.of("instance")) {
            bool expectShadow = i.mesh != "tetra6.obj" && i.mesh != "spacebox1.obj";
            EXPECT_EQ(i.shadow, expectShadow) << i.mesh;
        }
    }
    set(tracks.scene, "scene", 2);
    EXPECT_EQ(run().of("instance")[1].position, vec4(0, 9, 0, 1));
}

TEST_F(Scenes, TileGridGreetingsAndOcto) {
    set(tracks.scene, "scene", 6);
    set(tracks.tilyrot, "tilyrot", 0.25f);
    set(tracks.greetPos, "greet_pos", -7.0f);
    vars.parse("greet_pos_x 100\ngreet_pos_y 20\ngreet_pos_z 30\nmossplume_z 44\ngreet_scale 1.5\n"
               "tile_scale 2\n");

    set(tracks.greet, "greet", 4);
    RecordingSink sink = run();
    std::vector<Call> instances = sink.of("instance");
    ASSERT_EQ(instances.size(), 1u + 50u + 1u + 1u);
    EXPECT_EQ(instances[1].mesh, "tile4.obj");
    EXPECT_EQ(instances[1 + 13].position, vec4(30, 10, 0, 1)); // i = 1, j = 3
    EXPECT_EQ(instances[1 + 13].rotation, eulerRotation({0.25f, 0.25f, 0}));
    EXPECT_FALSE(instances[1 + 13].shadow);
    const Call& greeting = instances[51];
    EXPECT_EQ(greeting.mesh, "g_mossplumetree.obj");
    EXPECT_EQ(greeting.position, vec4(-7, 20, 44, 1));
    EXPECT_EQ(greeting.scale, 1.5f);
    EXPECT_EQ(greeting.rotation, eulerRotation({1.5707964f, 0, 0}));
    EXPECT_TRUE(greeting.shadow);
    EXPECT_EQ(instances[52].mesh, "spacebox1.obj");

    set(tracks.greet, "greet", 1);
    Call other = run().of("instance")[51];
    EXPECT_EQ(other.mesh, "g_vantle.obj");
    EXPECT_EQ(other.position, vec4(-7, 20, 30, 1));

    // round() is trunc(v + 0.5): -2 rounds to -1 and -101 to -100, both nothing;
    // -1 would round to 0, the first greeting.
    for (float nothing : {5.0f, -101.0f, -2.0f}) {
        set(tracks.greet, "greet", nothing);
        EXPECT_EQ(run().of("instance").size(), 52u) << nothing;
    }
    set(tracks.greet, "greet", -102); // rounds to -101
    set(tracks.scenetime, "scenetime", 2.0f);
    set(tracks.octoscale, "octoscale", 3.0f);
    Call octo = run(10.0).of("instance")[51];
    EXPECT_EQ(octo.mesh, "octo.obj");
    EXPECT_EQ(octo.position, vec4(float((std::sin(0.8) + 1) * 20 + 10),
                                  float((std::sin(0.6) + 1) * 15 + 10), 15, 1));
    EXPECT_EQ(octo.scale, 3.0f);
}

TEST_F(Scenes, BuildingsTwoPassesBlurAndTitles) {
    vars.parse("bldg_box_count 2\nbldg_y_0 10\nbldg_y_1 -4\nbldg1_pos_x 1\nbldg1_scale 5\n");
    set(tracks.scene, "scene", 7);
    set(tracks.scenetime, "scenetime", 0.5f);
    set(tracks.blur, "blur", 3.9f);
    set(tracks.t1Y, "t1_y", 1.0f);
    set(tracks.t2Y, "t2_y", 360.0f);
    RecordingSink sink = run(3.0);

    EXPECT_EQ(sink.of("clearDepth").size(), 1u);
    EXPECT_EQ(sink.of("render").size(), 3u);
    std::vector<Call> outputs = sink.of("output");
    ASSERT_EQ(outputs.size(), 3u);
    EXPECT_EQ(outputs[0].canvas, nullptr);
    EXPECT_EQ(outputs[1].canvas, &canvas);
    EXPECT_EQ(outputs[2].canvas, &canvas);
    std::vector<Call> ambient = sink.of("ambient");
    ASSERT_EQ(ambient.size(), 2u);
    EXPECT_EQ(ambient[1].value, 1.0f);
    ASSERT_EQ(sink.of("light").size(), 1u);
    EXPECT_FLOAT_EQ(sink.of("light")[0].light.position.y, float(std::sin(0.75) * 200 - 200));

    std::vector<Call> instances = sink.of("instance");
    ASSERT_EQ(instances.size(), 2u + 4u + 3u + 1u);
    EXPECT_EQ(instances[0].mesh, "bldg_box1.obj");
    EXPECT_EQ(instances[0].position, vec4(0, 5, 0, 1));
    EXPECT_EQ(instances[1].position, vec4(0, -2, 0, 1));
    EXPECT_TRUE(instances[1].shadow);
    EXPECT_EQ(instances[2].mesh, "bldg_chunk1.obj");
    EXPECT_EQ(instances[2].position, vec4(1, 0, 0, 1));
    EXPECT_EQ(instances[6].mesh, "bldg_side.obj");
    EXPECT_FALSE(instances[6].shadow);
    EXPECT_EQ(instances[9].mesh, "spacebox1.obj");

    EXPECT_EQ(sink.of("blur")[0].a, 3);
    std::vector<Call> overlays = sink.of("overlay");
    ASSERT_EQ(overlays.size(), 1u); // 360 is off the picture
    EXPECT_EQ(overlays[0].mesh, "t1.png");
    EXPECT_EQ(overlays[0].b, 1);
    EXPECT_EQ(sink.calls.back().kind, "render");

    // The box count is read once, on the first frame.
    vars.parse("bldg_box_count 5\n");
    set(tracks.t1Y, "t1_y", 0.0f);
    set(tracks.t2Y, "t2_y", 359.0f);
    RecordingSink later = run();
    EXPECT_EQ(state.buildingBoxes.size(), 2u);
    ASSERT_EQ(later.of("overlay").size(), 1u);
    EXPECT_EQ(later.of("overlay")[0].mesh, "t2.png");
}

TEST_F(Scenes, BuildingBoxesAreCreatedOnTheFirstFrameWhateverTheScene) {
    vars.parse("bldg_box_count 1\n");
    set(tracks.scene, "scene", 0);
    run();
    EXPECT_EQ(state.buildingBoxes.size(), 1u);
    EXPECT_EQ(state.buildingBoxes[0].heightName, "bldg_y_0");
    vars.parse("bldg_box_count 1e30\n");
    SceneState fresh;
    std::swap(state, fresh);
    run();
    EXPECT_LE(state.buildingBoxes.size(), 4096u); // a wild count is capped
}

TEST(Camera, KeysBlendAndClamp) {
    cameraKeys.clear();
    addDefaultCameraKeys();
    ASSERT_EQ(cameraKeys.size(), 23u);
    uint32_t bits;
    std::memcpy(&bits, &cameraKeys[6].az, 4);
    EXPECT_EQ(bits, 0x4033332Fu);

    auto keyView = [](int i) {
        return eulerTranslation(cameraKeys[i].angles(), cameraKeys[i].translation());
    };
    EXPECT_EQ(keyframeView(3, 9, 0.0f), keyView(3));
    EXPECT_EQ(keyframeView(3, 9, 1.0f), keyView(9));
    EXPECT_EQ(keyframeView(5, 5, 0.37f), keyView(5));
    EXPECT_EQ(keyframeView(-4, 99, 1.0f), keyView(22));
    EXPECT_EQ(keyframeView(-4, 99, 0.0f), keyView(0));
    mat44 half = keyframeView(1, 2, 0.5f);
    mat44 expected = eulerTranslation({1, 0.25f, 0.55f}, {-52, -72, 180});
    for (int i = 0; i < 16; ++i) {
        EXPECT_NEAR(half.m[i], expected.m[i], 1e-4f);
    }
    // Through tracks: cam_a 2.6 rounds to 3.
    SyncTrack a = constantTrack("cam_a", 2.6f), b = constantTrack("cam_b", 0),
              t = constantTrack("cam_t", 0);
    EXPECT_EQ(keyframeView(&a, &b, &t, 10.0), keyView(3));
}

TEST(Camera, NoiseIsZeroWithoutAmplitudesAndFiniteAlways) {
    CameraNoise noise;
    noise.build();
    VarPile vars("/nonexistent/", "varpile.txt");
    EXPECT_EQ(noise.cameraFloat(12.5, vars), vec4(0, 0, 0, 0));
    vec4 position(0, -32, -160, 0);
    EXPECT_EQ(freeView(position, {}, noise.cameraFloat(3.0, vars)), eulerTranslation({}, position));

    vars.parse("camfloat_amp_x 10\ncamfloat_amp_y 10\ncamfloat_amp_z 10\n");
    for (double now : {0.0, 1.0, 100.0}) {
        vec4 n = noise.cameraFloat(now, vars); // speed factor 0: t is infinite or NaN
        EXPECT_TRUE(std::isfinite(n.x) && std::isfinite(n.y) && std::isfinite(n.z)) << now;
    }
    vars.parse("camfloat_speedfactor 4\n");
    vec4 n = noise.cameraFloat(2.0, vars);
    float u = float(0.5 * 0.95);
    EXPECT_FLOAT_EQ(n.y, (sample(noise.tables[1], u) - 0.5f) * 10.0f);
    EXPECT_LE(std::fabs(n.x), 5.0f);
}

TEST(Distance, FixedStepIntegralOfSpeed) {
    SyncTrack constant = constantTrack("speed", 2.0f);
    EXPECT_NEAR(distanceAt(&constant, 3.0), 6.0, 1e-9);
    EXPECT_NEAR(distanceAt(&constant, 0.001), 0.002, 1e-12);
    EXPECT_EQ(distanceAt(&constant, 0.0), 0.0);
    EXPECT_EQ(distanceAt(&constant, -5.0), 0.0);
    EXPECT_EQ(distanceAt(nullptr, 5.0), 0.0);
    // A ramp from 0 at row 0 to 1 at row 44 (3 s): the integral to 3 s is 1.5.
    SyncTrack ramp("speed");
    ramp.keys = {{0, 0.0f, Linear}, {44, 1.0f, Hold}};
    ramp.keyCount = 2;
    EXPECT_NEAR(distanceAt(&ramp, 3.0), 1.5, 0.01);
    // A clock asked in order answers exactly what a fresh sum does, and one
    // asked backwards starts again.
    DistanceClock clock;
    for (double s : {0.5, 1.0, 1.0 + 1e-9, 2.7, 2.71, 1.3, 9.0, 4e6}) {
        EXPECT_EQ(clock.at(&ramp, s), distanceAt(&ramp, s)) << s;
    }
    // Past the last key the speed is constant: far positions are one product.
    EXPECT_NEAR(distanceAt(&ramp, 1e9), 1.5 + (1e9 - 3.0), 1.0);
    EXPECT_TRUE(std::isfinite(distanceAt(&ramp, 1e300)));
}
