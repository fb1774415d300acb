#include "assets/mesh.h"
#include "assets/texture.h"

#include <gtest/gtest.h>
#include <png.h>

#include <sys/wait.h>
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
void countFailure() {
    ++failures;
}

class TextureFiles : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device seed;
        root_ = fs::temp_directory_path() / ("lumo_texture_" + std::to_string(seed()));
        fs::create_directories(root_);
        dir_ = root_.string() + "/";
        failures = 0;
        previous_ = setDecodeFailureHandler(countFailure);
    }
    void TearDown() override {
        setDecodeFailureHandler(previous_);
        fs::remove_all(root_);
    }

    // An 8-bit RGBA PNG written by libpng.
    void writePng(const fs::path& path, int width, int height, const std::vector<uint8_t>& rgba) {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        image.width = png_uint_32(width);
        image.height = png_uint_32(height);
        image.format = PNG_FORMAT_RGBA;
        ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, rgba.data(), 0, nullptr));
    }

    void writeBytes(const fs::path& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
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
    ASSERT_EQ(t.image->texels.size(), 4u);
    EXPECT_EQ(t.image->texels[0], vec4(0, 0, 0, 0));
    EXPECT_EQ(t.image->texels[1], vec4(1, 0, 1, 0));
    EXPECT_EQ(t.image->texels[2], vec4(1, 0, 1, 0));
    EXPECT_EQ(t.image->texels[3], vec4(0, 0, 0, 0));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(t.image->texels.data()) % 16, 0u);
    EXPECT_EQ(store.find("e_1.png"), 0);
}

TEST_F(TextureFiles, PngTexelsArePremultiplied) {
    // 3 x 2: the second row must come out below the first.
    writePng(root_ / "p.png", 3, 2, {255, 128, 0,   128, 10, 20, 30, 0, 1,   2,   3,  255, //
                                     255, 255, 255, 255, 0,  0,  0,  0, 200, 100, 50, 1});
    std::unique_ptr<Texture> t = loadTexture(dir_, "p.png");
    ASSERT_EQ(failures, 0);
    EXPECT_EQ(t->name, "p.png");
    ASSERT_EQ(t->image->width, 3);
    ASSERT_EQ(t->image->height, 2);
    const auto& px = t->image->texels;
    ASSERT_EQ(px.size(), 6u);
    float half = byteValue(128);
    EXPECT_EQ(px[0], vec4(1.0f * half, byteValue(128) * half, 0.0f, half));
    EXPECT_NEAR(px[0].x, 0.50196f, 1e-5);
    EXPECT_NEAR(px[0].y, 0.25196f, 1e-5);
    EXPECT_EQ(px[1], vec4(0, 0, 0, 0)); // fully transparent, whatever the colour
    EXPECT_EQ(px[2], vec4(byteValue(1), byteValue(2), byteValue(3), 1.0f));
    EXPECT_EQ(px[3], vec4(1, 1, 1, 1));
    float low = byteValue(1);
    EXPECT_EQ(px[5], vec4(byteValue(200) * low, byteValue(100) * low, byteValue(50) * low, low));
}

TEST_F(TextureFiles, PngRoadForAnyCaseOfTheExtension) {
    writePng(root_ / "up.PnG", 1, 1, {0, 255, 0, 255});
    std::unique_ptr<Texture> t = loadTexture(dir_, "up.PnG");
    EXPECT_EQ(failures, 0);
    ASSERT_EQ(t->image->width, 1);
    EXPECT_EQ(t->image->texels[0], vec4(0, 1, 0, 1));

    // A broken file under an upper-case name reaches the PNG decoder and its error.
    writeBytes(root_ / "BROKEN.PNG", "not a png at all");
    ::testing::internal::CaptureStdout();
    std::unique_ptr<Texture> broken = loadTexture(dir_, "BROKEN.PNG");
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(failures, 1);
    EXPECT_TRUE(out.rfind("error(", 0) == 0) << out;
    EXPECT_NE(out.find(") decoding png from [BROKEN.PNG]\n"), std::string::npos) << out;
    EXPECT_EQ(broken->image->width, 0);
    EXPECT_TRUE(broken->image->texels.empty());
}

TEST_F(TextureFiles, MissingPngIsError48) {
    ::testing::internal::CaptureStdout();
    loadTexture(dir_, "gone.png");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "error(48) decoding png from [gone.png]\n");
    EXPECT_EQ(failures, 1);
}

// The default handler waits for one byte of standard input and exits with status 1;
// run it in a child whose standard input is closed or holds one byte.
void expectDefaultFailureExit(const std::string& dir, bool withByte) {
    int out[2], in[2];
    ASSERT_EQ(pipe(out), 0);
    ASSERT_EQ(pipe(in), 0);
    if (withByte) {
        ASSERT_EQ(write(in[1], "x", 1), 1);
    }
    close(in[1]); // end of input after the byte (or at once)
    fflush(stdout);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        close(out[0]);
        setDecodeFailureHandler(nullptr); // back to the default
        loadTexture(dir, "gone.png");
        _exit(99); // not reached when the default handler exits
    }
    close(in[0]);
    close(out[1]);
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = read(out[0], buffer, sizeof(buffer))) > 0;) {
        text.append(buffer, size_t(n));
    }
    close(out[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(text, "error(48) decoding png from [gone.png]\n");
}

TEST_F(TextureFiles, DefaultFailureWaitsForAByteAndExitsWithStatus1) {
    expectDefaultFailureExit(dir_, false);
    expectDefaultFailureExit(dir_, true);
}

TEST_F(TextureFiles, PlatformRoad) {
    // Binary PPM, 2 x 2: texels are (r, g, b, 1), rows top to bottom, no premultiplying.
    writeBytes(root_ / "t.ppm",
               std::string("P6\n2 2\n255\n") +
                   std::string("\x00\x10\x20\xff\xff\xff\x01\x02\x03\x80\x00\x7f", 12));
    std::unique_ptr<Texture> t = loadTexture(dir_, "t.ppm");
    ASSERT_EQ(t->image->width, 2);
    ASSERT_EQ(t->image->height, 2);
    EXPECT_EQ(t->image->texels[0], vec4(0, byteValue(16), byteValue(32), 1));
    EXPECT_EQ(t->image->texels[1], vec4(1, 1, 1, 1));
    EXPECT_EQ(t->image->texels[3], vec4(byteValue(128), 0, byteValue(127), 1));

    // Undecodable, missing, PNG data under another name, a name shorter than four
    // characters: all give an empty texture silently.
    writeBytes(root_ / "junk.jpg", "junk");
    writePng(root_ / "png.dat", 1, 1, {1, 2, 3, 4});
    writePng(root_ / "png", 1, 1, {1, 2, 3, 4});
    ::testing::internal::CaptureStdout();
    for (const char* name : {"junk.jpg", "missing.bmp", "png.dat", "png"}) {
        std::unique_ptr<Texture> empty = loadTexture(dir_, name);
        EXPECT_EQ(empty->name, name);
        EXPECT_EQ(empty->image->width, 0) << name;
        EXPECT_EQ(empty->image->height, 0) << name;
        EXPECT_TRUE(empty->image->texels.empty()) << name;
    }
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(failures, 0);
}

TEST_F(TextureFiles, MaterialTextureLoadsOnceAndTheScanListsIt) {
    fs::create_directories(root_ / "meshes");
    fs::create_directories(root_ / "textures");
    fs::create_directories(root_ / "textures" / "sub.png");
    writePng(root_ / "meshes" / "e_1.png", 1, 1, {255, 0, 0, 255});
    writePng(root_ / "textures" / "e_1.png", 1, 1, {0, 0, 255, 255});
    writePng(root_ / "textures" / "B.png", 1, 1, {0, 0, 0, 255});
    writePng(root_ / "textures" / "a.PNG", 1, 1, {0, 0, 0, 255});
    writeBytes(root_ / "textures" / "notes.txt", "x");
    writeBytes(root_ / "meshes" / "m.mtl", "newmtl skin\nmap_Kd e_1.png\n");
    writeBytes(root_ / "meshes" / "m.obj", "mtllib m.mtl\n");

    TextureStore textures;
    MeshStore meshes;
    ::testing::internal::CaptureStdout();
    meshes.loadDirectory(dir_ + "meshes/", textures);
    textures.loadDirectory(dir_ + "textures/");
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("texture filename is [e_1.png]\n"), std::string::npos);
    EXPECT_NE(out.find("loading texture [B.png]\nloading texture [a.PNG]\n"
                       "loading texture [e_1.png]\n"),
              std::string::npos)
        << out;
    ASSERT_EQ(textures.size(), 4);
    EXPECT_EQ(textures.find("e_1.png"), 1);
    EXPECT_EQ(textures.find("B.png"), 2);
    EXPECT_EQ(textures.find("a.PNG"), 3);
    EXPECT_EQ(textures.find("E_1.PNG"), 0);
    // The copy from the meshes directory (red) was kept.
    EXPECT_EQ(textures[1].image->texels[0], vec4(1, 0, 0, 1));
    EXPECT_EQ(meshes[1].materials.front().textureIndex, 1);
    EXPECT_EQ(failures, 0);
}

} // namespace
} // namespace lumo
