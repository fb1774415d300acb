#include "assets/mesh.h"
#include "assets/texture.h"

#include <gtest/gtest.h>
#include <png.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace lumo {
namespace {

namespace fs = std::filesystem;

int failures = 0;

class TextureFiles : public ::testing::Test {
protected:
    void SetUp() override {
        root_ =
            fs::temp_directory_path() / ("lumo_texture_" + std::to_string(std::random_device()()));
        fs::create_directories(root_ / "meshes");
        dir_ = root_.string() + "/";
        failures = 0;
        previous_ = setDecodeFailureHandler([] { ++failures; });
    }
    void TearDown() override {
        setDecodeFailureHandler(previous_);
        fs::remove_all(root_);
    }

    // An 8-bit RGBA PNG written by libpng.
    void writePng(const std::string& name, int width, int height, std::vector<uint8_t> rgba) {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        image.width = png_uint_32(width);
        image.height = png_uint_32(height);
        image.format = PNG_FORMAT_RGBA;
        ASSERT_TRUE(
            png_image_write_to_file(&image, (root_ / name).c_str(), 0, rgba.data(), 0, nullptr));
    }
    void writeBytes(const std::string& name, const std::string& bytes) {
        std::ofstream(root_ / name, std::ios::binary) << bytes;
    }
    // Loads name, returning what was printed.
    std::string load(std::unique_ptr<Texture>& texture, const std::string& name) {
        ::testing::internal::CaptureStdout();
        texture = loadTexture(dir_, name);
        return ::testing::internal::GetCapturedStdout();
    }

    fs::path root_;
    std::string dir_;
    DecodeFailureHandler previous_ = nullptr;
};

float byteValue(int c) {
    return float(double(c) * (1.0 / 255.0));
}

TEST(TextureStore, PlaceholderAtIndexZero) {
    TextureStore store;
    ASSERT_EQ(store.size(), 1);
    const Texture& t = store[0];
    EXPECT_EQ(t.name, "dummydummydummy");
    ASSERT_EQ(t.image->width, 2);
    ASSERT_EQ(t.image->height, 2);
    EXPECT_EQ(t.image->one, 1);
    const vec4 black(0, 0, 0, 0), magenta(1, 0, 1, 0);
    EXPECT_EQ(t.image->texels, (AlignedVector<vec4>{black, magenta, magenta, black}));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(t.image->texels.data()) % 16, 0u);
    EXPECT_EQ(store.find("e_1.png"), 0);
}

TEST_F(TextureFiles, PngTexelsArePremultiplied) {
    // 3 x 2: the second row must come out below the first.
    writePng("p.png", 3, 2, {255, 128, 0,   128, 10, 20, 30, 0, 1,   2,   3,  255, //
                             255, 255, 255, 255, 0,  0,  0,  0, 200, 100, 50, 1});
    std::unique_ptr<Texture> t = loadTexture(dir_, "p.png");
    ASSERT_EQ(failures, 0);
    ASSERT_EQ(t->image->width, 3);
    ASSERT_EQ(t->image->height, 2);
    const auto& px = t->image->texels;
    float half = byteValue(128), low = byteValue(1);
    EXPECT_EQ(px[0], vec4(1.0f * half, byteValue(128) * half, 0.0f, half));
    EXPECT_EQ(px[1], vec4(0, 0, 0, 0)); // fully transparent, whatever the colour
    EXPECT_EQ(px[2], vec4(byteValue(1), byteValue(2), byteValue(3), 1.0f));
    EXPECT_EQ(px[5], vec4(byteValue(200) * low, byteValue(100) * low, byteValue(50) * low, low));
}

TEST_F(TextureFiles, PngRoadForAnyCaseOfTheExtensionAndItsErrors) {
    writePng("up.PnG", 1, 1, {0, 255, 0, 255});
    std::unique_ptr<Texture> t;
    EXPECT_EQ(load(t, "up.PnG"), "");
    ASSERT_EQ(t->image->width, 1);
    EXPECT_EQ(t->image->texels[0], vec4(0, 1, 0, 1));

    // A broken file under an upper-case name reaches the PNG decoder and its error.
    writeBytes("BROKEN.PNG", "not a png at all");
    std::string out = load(t, "BROKEN.PNG");
    EXPECT_EQ(failures, 1);
    EXPECT_TRUE(out.rfind("error(", 0) == 0) << out;
    EXPECT_NE(out.find(") decoding png from [BROKEN.PNG]\n"), std::string::npos) << out;
    EXPECT_EQ(t->image->width, 0);
    EXPECT_TRUE(t->image->texels.empty());
    EXPECT_EQ(load(t, "gone.png"), "error(48) decoding png from [gone.png]\n");
    EXPECT_EQ(failures, 2);
}

// The default handler waits for one byte of standard input and exits with status 1.
TEST_F(TextureFiles, DefaultFailureReadsAByteAndExitsWithStatus1) {
    EXPECT_EXIT(
        {
            int in[2];
            if (pipe(in) != 0 || write(in[1], "x", 1) != 1 || dup2(in[0], 0) != 0) {
                _exit(2);
            }
            close(in[1]);
            setDecodeFailureHandler(nullptr); // back to the default
            loadTexture(dir_, "gone.png");
        },
        ::testing::ExitedWithCode(1), "");
}

TEST_F(TextureFiles, PlatformRoad) {
    // Binary PPM, 2 x 2: texels are (r, g, b, 1), rows top to bottom, no premultiplying.
    writeBytes("t.ppm", std::string("P6\n2 2\n255\n") +
                            std::string("\x00\x10\x20\xff\xff\xff\x01\x02\x03\x80\x00\x7f", 12));
    std::unique_ptr<Texture> t = loadTexture(dir_, "t.ppm");
    ASSERT_EQ(t->image->width + t->image->height, 4);
    EXPECT_EQ(t->image->texels[3], vec4(byteValue(128), 0, byteValue(127), 1));

    // Undecodable, missing, PNG data under another name, a name shorter than four
    // characters: all give an empty texture silently.
    writeBytes("junk.jpg", "junk");
    writePng("png.dat", 1, 1, {1, 2, 3, 4});
    writePng("png", 1, 1, {1, 2, 3, 4});
    for (const char* name : {"junk.jpg", "missing.bmp", "png.dat", "png"}) {
        EXPECT_EQ(load(t, name), "");
        EXPECT_EQ(t->name, name);
        EXPECT_TRUE(t->image->width == 0 && t->image->texels.empty()) << name;
    }
    EXPECT_EQ(failures, 0);
}

TEST_F(TextureFiles, MaterialTextureLoadsOnceAndTheScanListsIt) {
    fs::create_directories(root_ / "textures" / "sub.png");
    writePng("meshes/e_1.png", 1, 1, {255, 0, 0, 255});
    writePng("textures/e_1.png", 1, 1, {0, 0, 255, 255});
    writePng("textures/B.png", 1, 1, {0, 0, 0, 255});
    writePng("textures/a.PNG", 1, 1, {0, 0, 0, 255});
    writeBytes("textures/notes.txt", "x");
    writeBytes("meshes/m.mtl", "newmtl skin\nmap_Kd e_1.png\nnewmtl lips\nmap_Kd e_1.png\n");
    writeBytes("meshes/m.obj", "mtllib m.mtl\n");

    TextureStore textures;
    MeshStore meshes;
    ::testing::internal::CaptureStdout();
    meshes.loadDirectory(dir_ + "meshes/", textures);
    textures.loadDirectory(dir_ + "textures/");
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("texture filename is [e_1.png]\ntexture filename is [e_1.png]\n"),
              std::string::npos);
    EXPECT_NE(out.find("loading texture [B.png]\nloading texture [a.PNG]\n"
                       "loading texture [e_1.png]\n"),
              std::string::npos)
        << out;
    ASSERT_EQ(textures.size(), 4);
    EXPECT_EQ(textures.find("e_1.png"), 1);
    EXPECT_EQ(textures.find("B.png"), 2);
    EXPECT_EQ(textures.find("a.PNG"), 3);
    // The copy from the meshes directory (red) was kept.
    EXPECT_EQ(textures[1].image->texels[0], vec4(1, 0, 0, 1));
    EXPECT_EQ(meshes[1].materials.front().textureIndex, 1);
    EXPECT_EQ(meshes[1].materials.back().textureIndex, 1);
    EXPECT_EQ(failures, 0);
}

} // namespace
} // namespace lumo
