// The generated data set, loaded as the demo loads it: every name the scenes
// use resolves, casters are closed, materials are real, textures fit, the 19
// tracks are well-formed, the music covers the timeline, and stepping the
// timeline stays inside the renderer's fixed budgets.

#include "app/headless.h"
#include "audio/mp3.h"
#include "tools/datagen/meshes.h"
#include "tools/datagen/timeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace lumo {
namespace {

const std::string kData = LUMO_DATA_DIR;

// Every mesh file the scene code names, and whether it casts shadows.
struct MeshUse {
    std::string name;
    bool caster;
};

std::vector<MeshUse> sceneMeshes() {
    std::vector<MeshUse> m{{"tetra6.obj", false},         {"spacebox1.obj", false},
                           {"tube4a.obj", true},          {"testplane.obj", false},
                           {"testobj.obj", true},         {"t1.obj", true},
                           {"kestrel.obj", true},         {"kg2.obj", true},
                           {"somethingelse.obj", true},   {"sb1.obj", true},
                           {"sb1area.obj", true},         {"tile4.obj", false},
                           {"g_glimmerfog.obj", true},    {"g_vantle.obj", true},
                           {"g_sorrel.obj", true},        {"g_kestrelcrew.obj", true},
                           {"g_mossplumetree.obj", true}, {"octo.obj", true},
                           {"bldg_chunk1.obj", true},     {"bldg_chunk2.obj", true},
                           {"bldg_chunk3.obj", true},     {"bldg_chunk4.obj", true},
                           {"bldg_side.obj", false},      {"bldg_roof.obj", false},
                           {"bldg_cap.obj", false}};
    VarPile vars(kData + "/", "varpile.txt");
    int boxes = int(vars.get("bldg_box_count"));
    for (int i = 1; i <= boxes; ++i) {
        m.push_back({"bldg_box" + std::to_string(i) + ".obj", true});
    }
    return m;
}

// The demo itself, loaded headless from the build's data/ with one worker.
class Content : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ::testing::internal::CaptureStdout();
        demo_ = new HeadlessDemo(kData + "/", 1);
        ::testing::internal::GetCapturedStdout();
    }
    static void TearDownTestSuite() {
        delete demo_;
        demo_ = nullptr;
    }
    static MeshStore& meshes() { return *demo_->session().meshes; }
    static TextureStore& textures() { return *demo_->session().textures; }
    static HeadlessDemo* demo_;
};
HeadlessDemo* Content::demo_ = nullptr;

TEST_F(Content, EveryMeshResolvesWithRealMaterialsAndClosedCasters) {
    VarPile vars(kData + "/", "varpile.txt");
    EXPECT_GT(int(vars.get("bldg_box_count")), 0);
    for (const MeshUse& use : sceneMeshes()) {
        SCOPED_TRACE(use.name);
        int index = meshes().find(use.name);
        ASSERT_GT(index, 0) << "not in data/meshes";
        const Mesh& mesh = meshes()[index];
        EXPECT_GT(mesh.faceCount, 0);
        for (int f = 0; f < mesh.faceCount; ++f) {
            const Material* m = mesh.faces[f].material;
            ASSERT_NE(m, &mesh.defaultMaterial) << "face " << f << " has no MTL material";
            ASSERT_EQ(m->shaderType, -1);
            if (m->textureIndex != 0) {
                EXPECT_GT(m->textureIndex, 0);
                EXPECT_GT(textures()[m->textureIndex].image->width, 0);
            }
        }
        if (use.caster) {
            EXPECT_TRUE(mesh.manifold) << "a shadow caster must be closed";
        }
    }
}

// Outward winding: a closed caster encloses a positive volume (the loader's
// face normal is (b - a) x (c - a)), the sky box a negative one (seen from inside).
TEST_F(Content, CastersFaceOutwardAndTheSkyInward) {
    for (const MeshUse& use : sceneMeshes()) {
        const Mesh& mesh = meshes()[meshes().find(use.name)];
        double volume = 0;
        for (int f = 0; f < mesh.faceCount; ++f) {
            const vec4& a = mesh.vertices[mesh.faces[f].vertexIndex[0]].position;
            const vec4& b = mesh.vertices[mesh.faces[f].vertexIndex[1]].position;
            const vec4& c = mesh.vertices[mesh.faces[f].vertexIndex[2]].position;
            volume += (double(a.x) * (double(b.y) * c.z - double(b.z) * c.y) -
                       double(a.y) * (double(b.x) * c.z - double(b.z) * c.x) +
                       double(a.z) * (double(b.x) * c.y - double(b.y) * c.x)) /
                      6.0;
        }
        if (use.caster) {
            EXPECT_GT(volume, 0.0) << use.name;
        }
        if (use.name == "spacebox1.obj") {
            EXPECT_LT(volume, 0.0);
        }
    }
}

TEST_F(Content, TexturesDecodeAndFitTheOverlayWidth) {
    VarPile vars(kData + "/", "varpile.txt");
    for (const char* name : {"t1.png", "t2.png", "e_1.png", "e_2.png", "e_3.png"}) {
        SCOPED_TRACE(name);
        int index = textures().find(name);
        ASSERT_GT(index, 0);
        const TextureImage& img = *textures()[index].image;
        int x = std::string(name).rfind("e_", 0) == 0 ? int(vars.get("endtext_x")) : 0;
        EXPECT_GE(x, 0);
        EXPECT_LE(x + img.width, 640);
        EXPECT_GT(img.height, 0);
        // Anti-aliased text: some texels partly covered, alpha premultiplied.
        int partial = 0;
        for (const vec4& t : img.texels) {
            ASSERT_LE(t.x, t.w + 1e-6f);
            partial += t.w > 0.05f && t.w < 0.95f;
        }
        EXPECT_GT(partial, 100);
    }
    EXPECT_GT(textures().find("sky.png"), 0);
}

TEST(ContentFiles, TheNineteenTracksAreWellFormed) {
    for (const std::string& name : datagen::trackNames()) {
        SCOPED_TRACE(name);
        std::ifstream in(kData + "/sync_" + name + ".track", std::ios::binary);
        ASSERT_TRUE(in) << "missing track file";
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_GE(bytes.size(), 4u);
        int32_t count;
        std::memcpy(&count, bytes.data(), 4);
        ASSERT_EQ(bytes.size(), size_t(4 + 9 * count));
        int32_t lastRow = -1;
        for (int i = 0; i < count; ++i) {
            int32_t row;
            std::memcpy(&row, bytes.data() + 4 + 9 * i, 4);
            EXPECT_GT(row, lastRow) << "rows must increase strictly";
            lastRow = row;
            EXPECT_LE(uint8_t(bytes[12 + 9 * i]), 3) << "interpolation type";
        }
    }
}

// Every tweak variable the scenes read is in the file (a typo would silently read 0).
TEST(ContentFiles, VarpileHoldsEveryNameTheScenesRead) {
    std::ifstream in(kData + "/varpile.txt");
    std::set<std::string> names;
    for (std::string line; std::getline(in, line);) {
        std::istringstream w(line.substr(0, line.find('#')));
        std::string name;
        if (w >> name) {
            names.insert(name);
        }
    }
    const char* read[] = {"show_statistics", "show_threads",    "camfloat_speedfactor",
                          "camfloat_amp_x",  "camfloat_amp_y",  "camfloat_amp_z",
                          "light_d_color",   "light_d_power",   "light_s_color",
                          "light_s_power",   "tube_ambient",    "light_x",
                          "light_speed",     "light_max_y",     "light_z",
                          "light2_x",        "light2_z",        "light2_d_power",
                          "light2_s_power",  "tube_segments",   "tube_y_inc",
                          "tube_scale",      "tube_rot_factor", "enable_plane",
                          "endtext_x",       "endtext_y",       "t1_ypos",
                          "t1_scale",        "kg_scale",        "somethingelse_scale",
                          "global_ambient",  "sb1_y_pos",       "sb1_scale",
                          "sb1area_scale",   "tile_scale",      "greet_pos_y",
                          "greet_pos_z",     "mossplume_z",     "greet_scale",
                          "bldg_box_count",  "bldg1_pos_x",     "bldg1_pos_y",
                          "bldg1_pos_z",     "bldg1_scale"};
    for (const char* n : read) {
        EXPECT_TRUE(names.count(n)) << n;
    }
    VarPile vars(kData + "/", "varpile.txt");
    for (int i = 0; i < int(vars.get("bldg_box_count")); ++i) {
        EXPECT_TRUE(names.count("bldg_y_" + std::to_string(i))) << i;
    }
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(ContentFiles, MusicDecodesGaplessAndCoversTheTimeline) {
    DecodedAudio music;
    ASSERT_EQ(decodeMp3File(kData + "/j2.mp3", music), 0);
    // The LAME tag makes the decoded length exact: the synthesized length.
    const size_t expected = size_t(std::llround((80 * 4 * 60.0 / 110.0 + 3.0) * 44100));
    EXPECT_EQ(music.frameCount(), expected);
    double seconds = double(music.frameCount()) / 44100.0;
    EXPECT_GE(seconds, 150.0);
    EXPECT_LE(seconds, 210.0);
    datagen::Timeline timeline;
    std::string error;
    ASSERT_TRUE(datagen::parseTimeline(readAll(std::string(LUMO_CONTENT_DIR) + "/timeline.txt"),
                                       "timeline.txt", timeline, error))
        << error;
    EXPECT_GT(seconds * 44.0 / 3.0, timeline.lastRow);
    int peak = 0;
    for (int16_t s : music.samples) {
        peak = std::max(peak, std::abs(int(s)));
    }
    EXPECT_LE(20.0 * std::log10(peak / 32768.0), -1.0) << "peak above -1 dBFS";
}

// Steps the whole timeline as the demo plays it and checks that the fixed
// pools and shadow bins stay below 60 % and that every scene plays. Sanitizer builds step at
// one frame a second instead of ten, for time.
#ifdef LUMO_SANITIZED
constexpr double kStep = 1.0;
#else
constexpr double kStep = 0.1;
#endif
TEST_F(Content, TimelineStaysInsideTheBudgetsAndPlaysEveryScene) {
    std::set<int> scenes;
    const double end = 80 * 4 * 60.0 / 110.0 + 3.0;
    for (int frame = 0; frame * kStep < end; ++frame) {
        scenes.insert(demo_->renderAt(frame * kStep));
    }
    for (int s = 1; s <= 7; ++s) {
        EXPECT_TRUE(scenes.count(s)) << "scene " << s << " never plays";
    }
    const Pipeline& pipeline = *demo_->session().renderer->pipeline;
    for (int used :
         {pipeline.maxVertices, pipeline.maxNormals, pipeline.maxTexcoords, pipeline.maxFaces}) {
        EXPECT_LT(used, 60000);
    }
    EXPECT_EQ(pipeline.maxDropped.faces + pipeline.maxDropped.meshes + pipeline.maxDropped.lights,
              0);
    // With one worker a bin holds a light's whole volume.
    int fullestBin = 0;
    for (int vertices : pipeline.shadowMarks.bins) {
        fullestBin = std::max(fullestBin, vertices);
    }
    EXPECT_GT(fullestBin, 0) << "no shadow volumes were built";
    EXPECT_LT(fullestBin, 6000);
    EXPECT_EQ(pipeline.shadowMarks.unshadowedLights, 0);
    std::printf("budgets: vertices %d, normals %d, texcoords %d, faces %d, shadow bin %d\n",
                pipeline.maxVertices, pipeline.maxNormals, pipeline.maxTexcoords, pipeline.maxFaces,
                fullestBin);
}

// Shadow casters per scene, counted on the meshes: a single worker's bin holds
// a light's whole volume (three vertices per caster face plus six per
// silhouette edge), so the casters of one light stay near 1500 triangles.
TEST_F(Content, CasterTrianglesPerLightStaySmall) {
    auto faces = [&](const std::string& n) { return meshes()[meshes().find(n)].faceCount; };
    VarPile vars(kData + "/", "varpile.txt");
    int tube =
        int(std::ceil(vars.get("tube_segments"))) * faces("tube4a.obj") + faces("testobj.obj");
    int city = faces("bldg_chunk1.obj") + faces("bldg_chunk2.obj") + faces("bldg_chunk3.obj") +
               faces("bldg_chunk4.obj");
    for (int i = 1; i <= int(vars.get("bldg_box_count")); ++i) {
        city += faces("bldg_box" + std::to_string(i) + ".obj");
    }
    int perScene[] = {tube,
                      faces("t1.obj") + faces("kestrel.obj"),
                      faces("kg2.obj"),
                      faces("somethingelse.obj"),
                      faces("sb1.obj") + faces("sb1area.obj"),
                      faces("g_mossplumetree.obj"),
                      faces("octo.obj"),
                      city};
    for (int n : perScene) {
        EXPECT_LE(n, 1500);
    }
}

// Generating again gives the same bytes as the build's data/ (the music is
// left out here for time; its length is checked above).
TEST(ContentFiles, GenerationIsDeterministic) {
    std::string dir = ::testing::TempDir() + "/lumo_datagen_again";
    std::filesystem::create_directories(dir + "/meshes");
    std::vector<datagen::MeshInfo> written;
    ASSERT_TRUE(datagen::writeMeshes(dir + "/meshes", written));
    for (const datagen::MeshInfo& m : written) {
        std::string base = m.file.substr(0, m.file.size() - 4);
        for (const std::string& f : {base + ".obj", base + ".mtl"}) {
            EXPECT_TRUE(readAll(dir + "/meshes/" + f) == readAll(kData + "/meshes/" + f)) << f;
        }
    }
    EXPECT_TRUE(readAll(dir + "/meshes/sky.png") == readAll(kData + "/meshes/sky.png"));
    datagen::Timeline timeline;
    std::string error;
    ASSERT_TRUE(datagen::parseTimeline(readAll(std::string(LUMO_CONTENT_DIR) + "/timeline.txt"),
                                       "timeline.txt", timeline, error));
    ASSERT_TRUE(datagen::writeTracks(dir, timeline));
    for (const std::string& name : datagen::trackNames()) {
        std::string f = "/sync_" + name + ".track";
        EXPECT_TRUE(readAll(dir + f) == readAll(kData + f)) << f;
    }
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace lumo
