// The generated data set, loaded as the demo loads it: every name the scenes
// use resolves, casters are closed, materials are real, textures fit, the 19
// tracks are well-formed, the music covers the timeline, and stepping the
// timeline stays inside the renderer's fixed budgets.

#include "app/headless.h"
#include "assets/overlay.h"
#include "audio/mp3.h"
#include "tools/datagen/meshes.h"
#include "tools/datagen/timeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
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

// Length of the synthesized music: 80 bars of 4 beats at 110 bpm, and 3 s of tail.
constexpr double kMusicSeconds = 80 * 4 * 60.0 / 110.0 + 3.0;

datagen::Timeline contentTimeline() {
    datagen::Timeline timeline;
    std::string error;
    EXPECT_TRUE(datagen::parseTimeline(readAll(std::string(LUMO_CONTENT_DIR) + "/timeline.txt"),
                                       "timeline.txt", timeline, error))
        << error;
    return timeline;
}

// The demo itself, loaded headless from the build's data/ with one worker.
class Content : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ::testing::internal::CaptureStdout();
        demo_ = std::make_unique<HeadlessDemo>(kData + "/", 1);
        ::testing::internal::GetCapturedStdout();
    }
    static void TearDownTestSuite() { demo_.reset(); }
    static inline std::unique_ptr<HeadlessDemo> demo_;
};

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
    std::ranges::copy(words("spacebox1 tetra6 testplane tile4 bldg_side bldg_roof bldg_cap"),
                      std::back_inserter(names));
    const TextureStore& textures = *demo_->session().textures;
    for (size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i]);
        const int index = demo_->session().meshes->find(names[i] + ".obj");
        ASSERT_GT(index, 0) << "not in data/meshes";
        const Mesh& mesh = (*demo_->session().meshes)[index];
        EXPECT_GT(mesh.faceCount, 0);
        double volume = 0;
        for (int f = 0; f < mesh.faceCount; ++f) {
            const Material* m = mesh.faces[f].material;
            ASSERT_NE(m, &mesh.defaultMaterial) << "face " << f << " has no MTL material";
            ASSERT_EQ(m->shaderType, ShaderType::Plain);
            if (m->textureIndex != 0) {
                EXPECT_GT(textures[m->textureIndex].image->width, 0);
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

// Left, top, right and bottom of the texels more than half covered.
std::array<int, 4> alphaBox(const TextureImage& image) {
    std::array<int, 4> box{image.width, image.height, -1, -1};
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            if (image.texels[size_t(y) * size_t(image.width) + size_t(x)].w > 0.5f) {
                box = {std::min(box[0], x), std::min(box[1], y), std::max(box[2], x),
                       std::max(box[3], y)};
            }
        }
    }
    return box;
}

TEST_F(Content, TexturesDecodeAndFitTheOverlayWidth) {
    const TextureStore& textures = *demo_->session().textures;
    const int endX = int(VarPile(kData + "/", "varpile.txt").get("endtext_x"));
    EXPECT_GE(endX, 0);
    for (const char* name : {"t1.png", "t2.png", "e_1.png", "e_2.png", "e_3.png"}) {
        SCOPED_TRACE(name);
        int index = textures.find(name);
        ASSERT_GT(index, 0);
        const TextureImage& img = *textures[index].image;
        EXPECT_LE((name[0] == 'e' ? endX : 0) + img.width, 640);
        // Anti-aliased text: some texels partly covered, alpha premultiplied.
        int partial = 0;
        for (const vec4& t : img.texels) {
            ASSERT_LE(t.x, t.w + 1e-6f);
            partial += t.w > 0.05f && t.w < 0.95f;
        }
        EXPECT_GT(partial, 100);

        // For large pictures: the 3x copy, on demand only, three times the size and, taken
        // back to 1x, with its text where the 1x text is (within two texels).
        const std::string large = std::string(name, std::strlen(name) - 4) + "@3x.png";
        EXPECT_EQ(textures.find(large), 0);
        const auto three = overlayForScale(textures, kData + "/textures/", name, 3.0);
        ASSERT_NE(three, nullptr);
        ASSERT_EQ(std::pair(three->width, three->height), std::pair(3 * img.width, 3 * img.height));
        const TextureImage back = resampleImage(*three, img.width, img.height);
        const std::array<int, 4> box = alphaBox(img), backBox = alphaBox(back);
        for (size_t k = 0; k < 4; ++k) {
            EXPECT_NEAR(backBox[k], box[k], 2) << "side " << k;
        }
    }
    EXPECT_GT(textures.find("sky.png"), 0);
}

TEST(ContentFiles, MusicDecodesGaplessAndCoversTheTimeline) {
    DecodedAudio music;
    ASSERT_EQ(decodeMp3File(kData + "/j2.mp3", music), 0);
    // The LAME tag makes the decoded length exact: the synthesized length.
    ASSERT_EQ(music.frameCount(), size_t(std::llround(kMusicSeconds * 44100)));
    EXPECT_GT(kMusicSeconds * 44.0 / 3.0, contentTimeline().lastRow);
    const auto [low, high] = std::ranges::minmax(music.samples);
    EXPECT_LE(std::max(-int(low), int(high)), 29204) << "peak above -1 dBFS (32768 x 10^-0.05)";
}

// Steps the whole timeline as the demo plays it and checks that the fixed
// pools and shadow bins stay below 60 %, that every scene plays and that every
// variable read is in the file. Sanitizer builds step at one frame a second
// instead of ten, for time.
TEST_F(Content, TimelineStaysInsideTheBudgetsAndPlaysEveryScene) {
    std::set<int> scenes;
    const double step = LUMO_SANITIZED ? 1.0 : 0.1;
    for (int frame = 0; frame * step < kMusicSeconds; ++frame) {
        scenes.insert(demo_->renderAt(frame * step));
    }
    EXPECT_TRUE(std::ranges::includes(scenes, std::set{1, 2, 3, 4, 5, 6, 7}))
        << "a scene never plays";
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
    // Every tweak variable read while playing is in the file: a typo would
    // silently read 0, and reading a name inserts it into the pile.
    const VarPile file(kData + "/", "varpile.txt");
    for (const auto& [name, value] : demo_->session().vars->values) {
        EXPECT_TRUE(file.values.count(name)) << name;
    }
}

// Generating again gives the same bytes as the build's data/ (the music is
// left out here for time; its length is checked above). The reader takes
// every track whole (the size tells), with rising rows and known interpolations.
TEST(ContentFiles, GenerationIsDeterministicAndTheTracksWellFormed) {
    const std::string dir = ::testing::TempDir() + "/lumo_datagen_again";
    std::filesystem::create_directories(dir + "/meshes");
    std::vector<datagen::MeshInfo> written;
    ASSERT_TRUE(datagen::writeMeshes(dir + "/meshes", written));
    std::vector<std::string> files = {"/meshes/sky.png"};
    for (const datagen::MeshInfo& m : written) {
        std::string base = "/meshes/" + m.file.substr(0, m.file.size() - 4);
        files.insert(files.end(), {base + ".obj", base + ".mtl"});
    }
    ASSERT_TRUE(datagen::writeTracks(dir, contentTimeline()));
    for (const std::string& name : datagen::trackNames()) {
        files.push_back("/sync_" + name + ".track");
        SyncTrack t(name);
        ASSERT_EQ(t.load(kData + "/sync"), 0) << "missing track file " << name;
        EXPECT_EQ(readAll(kData + files.back()).size(), size_t(4 + 9 * t.keyCount)) << name;
        for (int i = 0; i < t.keyCount; ++i) {
            EXPECT_TRUE((i == 0 || t.keys[i].row > t.keys[i - 1].row) &&
                        int32_t(t.keys[i].interp) >= 0 && int32_t(t.keys[i].interp) <= 3)
                << name << " key " << i;
        }
    }
    for (const std::string& f : files) {
        EXPECT_TRUE(readAll(dir + f) == readAll(kData + f)) << f;
    }
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace lumo
