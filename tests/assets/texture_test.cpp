#include "assets/mesh.h"
#include "assets/texture.h"

#include "tests/assets/asset_dir.h"
#include "tests/assets/png_oracle.h"

#include <gtest/gtest.h>

#include <string>
#include <unistd.h>
#include <vector>

namespace lumo {
namespace {

using test::decodeFailures;

class TextureFiles : public test::AssetDir {
protected:
    // An 8-bit RGBA PNG written by libpng.
    void writePng(const std::string& name, uint32_t width, uint32_t height,
                  std::vector<uint16_t> rgba) {
        const auto bytes = test::writePng({.width = width, .height = height, .samples = rgba});
        write(name, std::string(bytes.begin(), bytes.end()));
    }
    // Loads name, returning the console lines.
    std::string load(std::unique_ptr<Texture>& texture, const std::string& name) {
        return printed([&] { texture = loadTexture(dir_, name); });
    }
};

// A byte as a texel value: the float nearest c / 255.
float byteValue(int c) {
    return float(c) / 255.0f;
}

TEST(TextureStore, PlaceholderAtIndexZero) {
    TextureStore store;
    ASSERT_EQ(store.size(), 1);
    const TextureImage& t = *store[0].image;
    EXPECT_EQ(store[0].name, "dummydummydummy");
    EXPECT_EQ(t.width + t.height, 4);
    const vec4 black(0, 0, 0, 0), magenta(1, 0, 1, 0);
    EXPECT_EQ(t.texels, (AlignedVector<vec4>{black, magenta, magenta, black}));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(t.texels.data()) % 16, 0u);
    EXPECT_EQ(store.find("e_1.png"), 0);
}

TEST_F(TextureFiles, PngTexelsArePremultiplied) {
    // 3 x 2: the second row must come out below the first. Any case of ".png" takes this road.
    writePng("p.PnG", 3, 2, {255, 128, 0,   128, 10, 20, 30, 0, 1,   2,   3,  255, //
                             255, 255, 255, 255, 0,  0,  0,  0, 200, 100, 50, 1});
    std::unique_ptr<Texture> t = loadTexture(dir_, "p.PnG");
    ASSERT_EQ(decodeFailures, 0);
    ASSERT_EQ(t->image->width, 3);
    ASSERT_EQ(t->image->height, 2);
    const auto& px = t->image->texels;
    float half = byteValue(128), low = byteValue(1);
    EXPECT_EQ(px[0], vec4(1.0f * half, byteValue(128) * half, 0.0f, half));
    EXPECT_EQ(px[1], vec4(0, 0, 0, 0)); // fully transparent, whatever the colour
    EXPECT_EQ(px[2], vec4(byteValue(1), byteValue(2), byteValue(3), 1.0f));
    EXPECT_EQ(px[5], vec4(byteValue(200) * low, byteValue(100) * low, byteValue(50) * low, low));
}

TEST_F(TextureFiles, OtherFormatsAndFailedLoads) {
    // Binary PPM, 2 x 2: texels are (r, g, b, 1), rows top to bottom, no premultiplying.
    write("t.ppm", std::string("P6\n2 2\n255\n") +
                       std::string("\x00\x10\x20\xff\xff\xff\x01\x02\x03\x80\x00\x7f", 12));
    std::unique_ptr<Texture> t = loadTexture(dir_, "t.ppm");
    ASSERT_EQ(t->image->width + t->image->height, 4);
    EXPECT_EQ(t->image->texels[3], vec4(byteValue(128), 0, byteValue(127), 1));

    // All give an empty texture; only the PNG road prints an error and calls the handler.
    // Undecodable, missing, PNG data under another name, a name shorter than four characters.
    write("junk.jpg", "junk");
    writePng("png.dat", 1, 1, {1, 2, 3, 4});
    writePng("png", 1, 1, {1, 2, 3, 4});
    for (const char* name : {"gone.png", "junk.jpg", "missing.bmp", "png.dat", "png"}) {
        EXPECT_EQ(load(t, name), name == std::string("gone.png")
                                     ? "error(48) decoding png from [gone.png]\n"
                                     : "");
        EXPECT_EQ(t->name, name);
        EXPECT_TRUE(t->image->width == 0 && t->image->texels.empty()) << name;
    }
    EXPECT_EQ(decodeFailures, 1);
}

// The default handler waits for one byte of standard input and exits with status 1.
TEST_F(TextureFiles, DefaultFailureReadsAByteAndExitsWithStatus1) {
    EXPECT_EXIT(
        {
            int in[2];
            if (pipe(in) != 0 || ::write(in[1], "x", 1) != 1 || dup2(in[0], 0) != 0) {
                _exit(2);
            }
            close(in[1]);
            setDecodeFailureHandler(nullptr); // back to the default
            loadTexture(dir_, "gone.png");
        },
        ::testing::ExitedWithCode(1), "");
}

TEST_F(TextureFiles, MaterialTextureLoadsOnceAndTheScanSkipsIt) {
    std::filesystem::create_directories(root_ / "meshes");
    std::filesystem::create_directories(root_ / "textures");
    writePng("meshes/e_1.png", 1, 1, {255, 0, 0, 255});
    writePng("textures/e_1.png", 1, 1, {0, 0, 255, 255});
    writePng("textures/a.PNG", 1, 1, {0, 0, 0, 255});
    write("meshes/m.mtl", "newmtl skin\nmap_Kd e_1.png\nnewmtl lips\nmap_Kd e_1.png\n"
                          "newmtl eye\nmap_Kd gone.png\n");
    write("meshes/m.obj", "mtllib m.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");

    MeshStore meshes;
    const std::string out = printed([&] {
        meshes.loadDirectory(dir_ + "meshes/", textures_);
        textures_.loadDirectory(dir_ + "textures/");
    });
    // Every line in the order the loaders meet what they report: a texture's lines while
    // its material is read, the mesh's open sides after its file.
    const std::string open = "((( non 2-manifold: open edge )))\n";
    EXPECT_EQ(out, "about to load meshes from [" + dir_ +
                       "meshes/*.obj]\n"
                       "---- loading [m.obj]:\n"
                       "texture filename is [e_1.png]\ntexture filename is [e_1.png]\n"
                       "texture filename is [gone.png]\n"
                       "error(48) decoding png from [gone.png]\n" +
                       open + open + open + "loading texture [a.PNG]\nloading texture [e_1.png]\n");
    ASSERT_EQ(textures_.size(), 4);
    EXPECT_EQ(textures_.find("e_1.png"), 1);
    EXPECT_EQ(textures_.find("gone.png"), 2);
    EXPECT_EQ(textures_.find("a.PNG"), 3);
    // The copy from the meshes directory (red) was kept.
    EXPECT_EQ(textures_[1].image->texels[0], vec4(1, 0, 0, 1));
    auto material = meshes[1].materials.begin();
    EXPECT_EQ(material++->textureIndex, 1);
    EXPECT_EQ(material++->textureIndex, 1);
    EXPECT_EQ(material->textureIndex, 2);
    EXPECT_EQ(decodeFailures, 1);
}

} // namespace
} // namespace lumo
