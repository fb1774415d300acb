// What each scene submits, recorded through the scene seam instead of rendered.

#include "app/camera.h"
#include "app/scenes.h"

#include "assets/mesh.h"
#include "assets/texture.h"
#include "params/track.h"
#include "params/varpile.h"
#include "render/buffers.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace lumo;

namespace {

vec4 positionOf(const MeshInstance& i) {
    return {i.placement.m[12], i.placement.m[13], i.placement.m[14], i.placement.m[15]};
}

SyncTrack constantTrack(const std::string& name, float value) {
    SyncTrack t(name);
    t.keys = {{0, value, KeyInterp::Hold}};
    t.keyCount = 1;
    return t;
}

// The fixture is the renderer the scenes talk to. It logs the calls as text
// ("bias -0.125; ambient 0.2; "), a run of instances as one "instance", and keeps
// copies of the instances. "offscreen" is a pass that keeps its result
// in the colour buffer; overlays log their texture name. Names of shadow-casting
// instances end in "*".
class Scenes : public testing::Test, public SceneSink {
public:
    Scenes() : vars("/nonexistent/", "varpile.txt") {}

    void SetUp() override {
        std::istringstream list(
            "tetra6 spacebox1 tube4a testplane testobj t1 kestrel kg2 somethingelse sb1 sb1area "
            "tile4 g_glimmerfog g_vantle g_sorrel g_kestrelcrew g_mossplumetree octo bldg_box1 "
            "bldg_box2 bldg_chunk1 bldg_chunk2 bldg_chunk3 bldg_chunk4 bldg_side bldg_roof "
            "bldg_cap");
        for (std::string name; list >> name;) {
            meshes[meshes.add(std::make_unique<Mesh>())].name = name + ".obj";
        }
        for (const char* name : {"e_1.png", "e_2.png", "e_3.png", "t1.png", "t2.png"}) {
            textures.add(
                std::make_unique<Texture>(Texture{std::make_unique<TextureImage>(), name}));
        }
        vars.parse("show_threads 1\n");
        state.prepare(vars, meshes, textures);
    }

    // Sets a track to a constant for this test.
    void set(SyncTrack*& slot, const std::string& name, float value) {
        owned.push_back(std::make_unique<SyncTrack>(constantTrack(name, value)));
        slot = owned.back().get();
    }

    const Scenes& run(double now = 2.0, double distance = 0.5) {
        calls.clear(), instances.clear(), names.clear();
        SceneFrame frame{vars, meshes, textures, tracks, state, 0, now, distance, {}, &canvas};
        frame.layout = layout;
        drawn = renderScenes(frame, *this);
        return *this;
    }

    void beginFrame() override { log("begin"); }
    void setClearDepth(bool clear) override { log("clearDepth", clear); }
    void setOutput(Canvas* c, int left, int top) override {
        log(c ? "output" : "offscreen", left, top);
    }
    void setViewMatrix(const mat44&) override { log("view"); }
    void setShowThreads(bool show, int thickness) override { log("threads", show, thickness); }
    void setOutputBias(float bias) override { log("bias", bias); }
    void setAmbient(float ambient) override { log("ambient", ambient); }
    void addLight(Light*) override { log("light"); }
    void addInstance(MeshInstance* instance) override {
        if (!calls.ends_with("instance; ")) {
            log("instance");
        }
        instances.push_back(*instance);
        names.push_back(meshes[instance->meshIndex].name + (instance->castsShadow ? "*" : ""));
    }
    void transformAll() override { log("transform"); }
    void renderFrame() override { log("render"); }
    void blur(int radius) override { log("blur", radius); }
    void compositeOverlay(int texture, int x, int y, float fade) override {
        log(textures[texture].name, x, y, fade);
    }
    void overlayBeforeResolve(int texture, int x, int y, float fade) override {
        log("before " + textures[texture].name, x, y, fade);
    }
    template <class... T>
    void log(const std::string& kind, T... values) {
        std::ostringstream s;
        s << kind;
        ((s << ' ' << values), ...);
        calls += s.str() + "; ";
    }

    VarPile vars;
    MeshStore meshes;
    TextureStore textures;
    DemoTracks tracks;
    SceneState state;
    Canvas canvas;
    PictureLayout layout = layoutPicture(640, 480); // the demo's window
    std::vector<std::unique_ptr<SyncTrack>> owned;
    int drawn = -1;
    std::string calls;
    std::vector<MeshInstance> instances;
    std::vector<std::string> names;
};

} // namespace

TEST_F(Scenes, SelectionRoundsTheSceneTrack) {
    for (auto [value, expected] :
         {std::pair{6.4f, 6}, {1.5f, 2}, {0.49f, 0}, {8.0f, 0}, {-3.0f, 0}, {1e20f, 0}}) {
        set(tracks.scene, "scene", value);
        run();
        EXPECT_EQ(drawn, expected) << value;
        EXPECT_EQ(calls.empty(), expected == 0) << value; // no scene: the canvas is untouched
    }
}

// The demo's own frames of every scene are in the golden pictures; these cases
// take the values its data never does.
TEST_F(Scenes, TubeSceneSubmitsItsLightsSegmentsAndEndText) {
    set(tracks.scene, "scene", 1);
    set(tracks.ec, "ec", 2);
    set(tracks.ea, "ea", 0.75f);
    set(tracks.expos, "expos", -0.125f);
    vars.parse("tube_segments 2.5\nlight_speed 0.3\nlight_max_y 100\ntube_ambient 0.2\n"
               "endtext_x 10.9\nendtext_y 300\nshow_threads 0\n");
    run(4.0, 0.5);
    // One pass to the canvas, the end text blended in before its output.
    EXPECT_NE(calls.find("output 0 60; view; threads 0 1; bias -0.125; ambient 0.2; light; "
                         "instance; light; instance; before e_2.png 10 300 0.75; transform; "
                         "render; "),
              std::string::npos)
        << calls;
    EXPECT_EQ(calls.find("render"), calls.rfind("render")) << calls;
    EXPECT_EQ(calls.find("offscreen"), std::string::npos) << calls;
    // 0.3 * 4 = 1.2: the light, and the marker where it is, at 0.2 of its climb.
    EXPECT_FLOAT_EQ(positionOf(instances[0]).y, (1.2f - 1.0f) * 100.0f);
    std::vector<std::string> expected = {"tetra6.obj",  "tube4a.obj*",   "tube4a.obj*",
                                         "tube4a.obj*", "spacebox1.obj", "testobj.obj*"};
    EXPECT_EQ(names, expected); // no plane: enable_plane is absent

    for (float ec : {0.0f, 4.0f}) {
        set(tracks.ec, "ec", ec);
        EXPECT_EQ(run().calls.find(".png"), std::string::npos) << ec;
    }
    // With band markers, which belong to each pass, the output pass stays apart.
    set(tracks.ec, "ec", 2);
    vars.parse("show_threads 1\n");
    run(4.0, 0.5);
    EXPECT_NE(calls.find("offscreen 0 60; view; threads 1 1; bias -0.125; ambient 0.2; light; "
                         "instance; light; instance; transform; render; e_2.png 10 300 0.75; "
                         "begin; output 0 60; render; "),
              std::string::npos)
        << calls;
    vars.parse("tube_segments 0\nenable_plane 1\n");
    expected = {"tetra6.obj", "spacebox1.obj", "testplane.obj", "testobj.obj*"};
    EXPECT_EQ(run().names, expected);
}

// At other sizes everything placed in pixels follows the picture: overlays at
// their places times the scale, the blur radius times the scale (truncated),
// the output where the letterbox or pillarbox puts the picture. The titles'
// range stays that of the 640 x 360 picture.
TEST_F(Scenes, PixelPlacesScaleWithThePicture) {
    vars.parse("endtext_x 10.9\nendtext_y 300\n");
    set(tracks.ec, "ec", 2);
    set(tracks.ea, "ea", 1);
    set(tracks.blur, "blur", 3.9f);
    set(tracks.t1Y, "t1_y", 1.0f);
    set(tracks.t2Y, "t2_y", 359.0f);
    using T = std::tuple<int, int, const char*, const char*, const char*>;
    for (auto [w, h, endText, output, blurAndTitles] :
         {T{1920, 1080, "e_2.png 30 900 1", "output 0 0", "blur 11; t1.png 0 3 1; t2.png 0 1077 1"},
          T{1366, 768, "e_2.png 21 640 1", "output 0 0", "blur 8; t1.png 0 2 1; t2.png 0 766 1"},
          T{2560, 1080, "e_2.png 30 900 1", "output 320 0",
            "blur 11; t1.png 0 3 1; t2.png 0 1077 1"},
          T{640, 360, "e_2.png 10 300 1", "output 0 0", "blur 3; t1.png 0 1 1; t2.png 0 359 1"},
          T{320, 240, "e_2.png 5 150 1", "output 0 30", "blur 1; t1.png 0 0 1; t2.png 0 180 1"}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        layout = layoutPicture(w, h);
        set(tracks.scene, "scene", 1);
        run();
        EXPECT_NE(calls.find(std::string(endText) + "; begin; " + output + "; render; "),
                  std::string::npos)
            << calls;
        set(tracks.scene, "scene", 7);
        run();
        EXPECT_NE(calls.find(std::string(blurAndTitles) + "; begin; " + output + "; render; "),
                  std::string::npos)
            << calls;
    }
}

TEST_F(Scenes, TileGridGreetingsAndOcto) {
    set(tracks.scene, "scene", 6);
    set(tracks.greetPos, "greet_pos", -7.0f);
    vars.parse("greet_pos_x 100\ngreet_pos_y 20\ngreet_pos_z 30\nmossplume_z 44\n");

    // The last greeting stands at its own depth instead of greet_pos_z; x comes
    // from the track.
    set(tracks.greet, "greet", 4);
    run();
    ASSERT_EQ(instances.size(), 1u + 50u + 1u + 1u);
    EXPECT_EQ(names[1] + names[51] + names[52], "tile4.objg_mossplumetree.obj*spacebox1.obj");
    EXPECT_EQ(positionOf(instances[51]), vec4(-7, 20, 44, 1));

    // round() is trunc(v + 0.5): -2 rounds to -1 and -101 to -100, both nothing;
    // -1 would round to 0, the first greeting. Below -100 the octopus shows.
    for (float nothing : {5.0f, -101.0f, -2.0f}) {
        set(tracks.greet, "greet", nothing);
        EXPECT_EQ(run().instances.size(), 52u) << nothing;
    }
    set(tracks.greet, "greet", -102); // rounds to -101
    run();
    EXPECT_EQ(names[51], "octo.obj*");
}

TEST_F(Scenes, BuildingsTwoPassesBlurAndTitles) {
    // The boxes are created on the first frame, whatever the scene, and only then.
    vars.parse("bldg_box_count 2\nbldg_y_0 10\nbldg_y_1 -4\n");
    set(tracks.scene, "scene", 0);
    run();
    vars.parse("bldg_box_count 5\n");
    ASSERT_EQ(state.buildingBoxes.size(), 2u);
    EXPECT_EQ(state.buildingBoxes[0].height, &vars.get("bldg_y_0"));

    set(tracks.scene, "scene", 7);
    set(tracks.scenetime, "scenetime", 0.5f);
    set(tracks.blur, "blur", 3.9f);
    set(tracks.t1Y, "t1_y", 1.0f);
    set(tracks.t2Y, "t2_y", 360.0f); // off the picture
    run(3.0);
    EXPECT_NE(calls.find("render; blur 3; t1.png 0 1 1; begin; output 0 60; render; "),
              std::string::npos)
        << calls;
    // Only the output pass writes the canvas: the second pass's picture would
    // be overwritten unseen.
    EXPECT_EQ(calls.find("output"), calls.rfind("output")) << calls;
    EXPECT_EQ(state.buildingBoxes.size(), 2u);

    set(tracks.t1Y, "t1_y", 0.0f);
    set(tracks.t2Y, "t2_y", 359.0f);
    run();
    EXPECT_EQ(calls.find("t1.png"), std::string::npos);
    EXPECT_NE(calls.find("t2.png 0 359"), std::string::npos);

    state = SceneState();
    vars.parse("bldg_box_count 1e30\n");
    run();
    EXPECT_LE(state.buildingBoxes.size(), 4096u); // a wild count is capped
}

TEST(Camera, KeysBlendAndClamp) {
    const std::vector<CameraKey> keys = defaultCameraKeys();
    ASSERT_EQ(keys.size(), 23u);
    EXPECT_EQ(std::bit_cast<uint32_t>(keys[6].az), 0x4033332Fu);

    auto keyView = [&](int i) { return eulerTranslation(keys[i].angles(), keys[i].translation()); };
    EXPECT_EQ(keyframeView(keys, -4, 99, 1.0f), keyView(22));
    EXPECT_EQ(keyframeView(keys, -4, 99, 0.0f), keyView(0));
    EXPECT_EQ(keyframeView({}, 1, 2, 0.5f), mat44::identity());
    // Through tracks: cam_a 2.6 rounds to 3.
    SyncTrack a = constantTrack("cam_a", 2.6f), b = constantTrack("cam_b", 0),
              t = constantTrack("cam_t", 0);
    EXPECT_EQ(keyframeView(keys, &a, &b, &t, 10.0), keyView(3));
}

TEST(Camera, NoiseIsZeroWithoutAmplitudesAndFiniteAlways) {
    CameraNoise noise;
    noise.build();
    vec4 position(0, -32, -160, 0);
    EXPECT_EQ(freeView(position, {}, noise.cameraFloat(3.0, 0.0f, {})),
              eulerTranslation({}, position));

    const vec4 amplitude(10, 10, 10, 0);
    for (double now : {0.0, 1.0}) {
        vec4 n = noise.cameraFloat(now, 0.0f, amplitude); // speed factor 0: t is infinite or NaN
        EXPECT_TRUE(std::isfinite(n.x) && std::isfinite(n.y) && std::isfinite(n.z)) << now;
    }

    // Its variables as a frame reads them: resolved once, they follow later values.
    VarPile vars("/nonexistent/", "varpile.txt");
    FrameVariables v(vars);
    vars.parse("camfloat_speedfactor 4\ncamfloat_amp_x 1\ncamfloat_amp_y 2\ncamfloat_amp_z 3\n");
    EXPECT_EQ(vec4(v.camfloatAmpX, v.camfloatAmpY, v.camfloatAmpZ, v.camfloatSpeedFactor),
              vec4(1, 2, 3, 4));
}
