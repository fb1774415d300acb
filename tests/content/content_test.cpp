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
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

namespace lumo {
namespace {

const std::string kData = LUMO_DATA_DIR;

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
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

// Every mesh the scene code names. Shadow casters must be closed and enclose a
// positive volume (the loader's face normal is (b - a) x (c - a)); the sky box
// encloses a negative one, seen from inside.
TEST_F(Content, EveryMeshResolvesWithRealMaterialsAndClosedOutwardCasters) {
    std::vector<std::string> names =
        words("tube4a testobj t1 kestrel kg2 somethingelse sb1 sb1area g_glimmerfog g_vantle "
              "g_sorrel g_kestrelcrew g_mossplumetree octo bldg_chunk1 bldg_chunk2 bldg_chunk3 "
              "bldg_chunk4");
    const int boxes = int(VarPile(kData + "/", "varpile.txt").get("bldg_box_count"));
    EXPECT_GT(boxes, 0);
    for (int i = 1; i <= boxes; ++i) {
        names.push_back("bldg_box" + std::to_string(i));
    }
    const size_t casterCount = names.size(); // the rest cast no shadows
    for (const std::string& other : words("spacebox1 tetra6 testplane tile4 bldg_side bldg_roof "
                                          "bldg_cap")) {
        names.push_back(other);
    }
    for (size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i]);
        int index = meshes().find(names[i] + ".obj");
        ASSERT_GT(index, 0) << "not in data/meshes";
        const Mesh& mesh = meshes()[index];
        EXPECT_GT(mesh.faceCount, 0);
        double volume = 0;
        for (int f = 0; f < mesh.faceCount; ++f) {
            const Material* m = mesh.faces[f].material;
            ASSERT_NE(m, &mesh.defaultMaterial) << "face " << f << " has no MTL material";
            ASSERT_EQ(m->shaderType, ShaderType::Plain);
            if (m->textureIndex != 0) {
                EXPECT_GT(textures()[m->textureIndex].image->width, 0);
            }
            const int* v = mesh.faces[f].vertexIndex;
            const vec4 &a = mesh.vertices[v[0]].position, &b = mesh.vertices[v[1]].position,
                       &c = mesh.vertices[v[2]].position;
            volume += double(a.x) * (double(b.y) * c.z - double(b.z) * c.y) -
                      double(a.y) * (double(b.x) * c.z - double(b.z) * c.x) +
                      double(a.z) * (double(b.x) * c.y - double(b.y) * c.x);
        }
        if (i < casterCount) {
            EXPECT_TRUE(mesh.manifold) << "a shadow caster must be closed";
            EXPECT_GT(volume, 0.0);
        }
        if (names[i] == "spacebox1") {
            EXPECT_LT(volume, 0.0) << "the sky box faces inward";
        }
    }
}

TEST_F(Content, TexturesDecodeAndFitTheOverlayWidth) {
    const int endX = int(VarPile(kData + "/", "varpile.txt").get("endtext_x"));
    EXPECT_GE(endX, 0);
    for (const char* name : {"t1.png", "t2.png", "e_1.png", "e_2.png", "e_3.png"}) {
        SCOPED_TRACE(name);
        int index = textures().find(name);
        ASSERT_GT(index, 0);
        const TextureImage& img = *textures()[index].image;
        EXPECT_LE((name[0] == 'e' ? endX : 0) + img.width, 640);
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
        SyncTrack t(name);
        ASSERT_EQ(t.load(kData + "/sync"), 0) << "missing track file";
        // The reader keeps the complete keys of a cut file; the size tells.
        EXPECT_EQ(readAll(kData + "/sync_" + name + ".track").size(), size_t(4 + 9 * t.keyCount));
        for (int i = 0; i < t.keyCount; ++i) {
            EXPECT_TRUE(i == 0 || t.keys[i].row > t.keys[i - 1].row) << "rows must increase";
            EXPECT_TRUE(int32_t(t.keys[i].interp) >= 0 && int32_t(t.keys[i].interp) <= 3)
                << "interpolation type";
        }
    }
}

// Every tweak variable the scenes read is in the file (a typo would silently read 0).
TEST(ContentFiles, VarpileHoldsEveryNameTheScenesRead) {
    VarPile vars(kData + "/", "varpile.txt");
    std::vector<std::string> read = words(
        "show_statistics show_threads camfloat_speedfactor camfloat_amp_x camfloat_amp_y "
        "camfloat_amp_z light_d_color light_d_power light_s_color light_s_power tube_ambient "
        "light_x light_speed light_max_y light_z light2_x light2_z light2_d_power light2_s_power "
        "tube_segments tube_y_inc tube_scale tube_rot_factor enable_plane endtext_x endtext_y "
        "t1_ypos t1_scale kg_scale somethingelse_scale global_ambient sb1_y_pos sb1_scale "
        "sb1area_scale tile_scale greet_pos_y greet_pos_z mossplume_z greet_scale bldg_box_count "
        "bldg1_pos_x bldg1_pos_y bldg1_pos_z bldg1_scale");
    for (int i = 0; i < int(vars.values["bldg_box_count"]); ++i) {
        read.push_back("bldg_y_" + std::to_string(i));
    }
    for (const std::string& n : read) {
        EXPECT_TRUE(vars.values.count(n)) << n;
    }
}

TEST(ContentFiles, MusicDecodesGaplessAndCoversTheTimeline) {
    DecodedAudio music;
    ASSERT_EQ(decodeMp3File(kData + "/j2.mp3", music), 0);
    // The LAME tag makes the decoded length exact: the synthesized length.
    const double seconds = 80 * 4 * 60.0 / 110.0 + 3.0;
    EXPECT_EQ(music.frameCount(), size_t(std::llround(seconds * 44100)));
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
    const FrameStats stats = demo_->session().renderer->statistics();
    for (const FrameStats::Pool& pool :
         {stats.vertices, stats.normals, stats.texcoords, stats.faceRecords}) {
        EXPECT_LT(pool.mark, 60000);
    }
    EXPECT_EQ(stats.dropped.faces + stats.dropped.meshes + stats.dropped.lights, 0);
    // With one worker a bin holds a light's whole volume.
    const int fullestBin = *std::max_element(stats.shadowBins.begin(), stats.shadowBins.end());
    EXPECT_GT(fullestBin, 0) << "no shadow volumes were built";
    EXPECT_LT(fullestBin, 6000);
    EXPECT_EQ(stats.unshadowedLights, 0);
}

// Generating again gives the same bytes as the build's data/ (the music is
// left out here for time; its length is checked above).
TEST(ContentFiles, GenerationIsDeterministic) {
    std::string dir = ::testing::TempDir() + "/lumo_datagen_again";
    std::filesystem::create_directories(dir + "/meshes");
    std::vector<datagen::MeshInfo> written;
    ASSERT_TRUE(datagen::writeMeshes(dir + "/meshes", written));
    std::vector<std::string> files = {"/meshes/sky.png"};
    for (const datagen::MeshInfo& m : written) {
        std::string base = "/meshes/" + m.file.substr(0, m.file.size() - 4);
        files.insert(files.end(), {base + ".obj", base + ".mtl"});
    }
    datagen::Timeline timeline;
    std::string error;
    ASSERT_TRUE(datagen::parseTimeline(readAll(std::string(LUMO_CONTENT_DIR) + "/timeline.txt"),
                                       "timeline.txt", timeline, error));
    ASSERT_TRUE(datagen::writeTracks(dir, timeline));
    for (const std::string& name : datagen::trackNames()) {
        files.push_back("/sync_" + name + ".track");
    }
    for (const std::string& f : files) {
        EXPECT_TRUE(readAll(dir + f) == readAll(kData + f)) << f;
    }
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace lumo
