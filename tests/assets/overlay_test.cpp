// Overlays at any scale: the resampler's filter, and which of the 1x and 3x images
// overlayForScale starts from.

#include "assets/overlay.h"
#include "assets/png_write.h"
#include "sys/log.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace lumo {
namespace {

TextureImage image(int width, int height, const std::vector<vec4>& texels) {
    TextureImage result;
    result.width = width;
    result.height = height;
    result.texels.assign(texels.begin(), texels.end());
    return result;
}

// The value a double-precision weighted sum of two texels rounds to.
vec4 mix(const vec4& a, double wa, const vec4& b, double wb) {
    return {float(wa * a.x + wb * b.x), float(wa * a.y + wb * b.y), float(wa * a.z + wb * b.z),
            float(wa * a.w + wb * b.w)};
}

TEST(Resample, ConstantImagesStayExactlyConstantAtAnySize) {
    const vec4 texel(0.3f * 0.6f, 0.7f * 0.6f, 0.1f * 0.6f, 0.6f);
    const TextureImage source = image(7, 5, std::vector<vec4>(35, texel));
    for (const auto& [w, h] : {std::pair(14, 10), std::pair(21, 15), std::pair(3, 2),
                               std::pair(1, 1), std::pair(20, 3), std::pair(5, 12)}) {
        const TextureImage out = resampleImage(source, w, h);
        ASSERT_EQ(std::pair(out.width, out.height), std::pair(w, h));
        ASSERT_EQ(out.texels.size(), size_t(w * h));
        for (const vec4& t : out.texels) {
            ASSERT_EQ(t, texel) << w << " x " << h;
        }
    }
    // Nothing to resample from or to: an empty image, not a crash.
    EXPECT_EQ(resampleImage(TextureImage{}, 4, 4).width, 0);
    EXPECT_TRUE(resampleImage(source, 0, 3).texels.empty());
    EXPECT_TRUE(resampleImage(source, 1 << 14, 1 << 14).texels.empty());
}

// Filtering straight colours, or un-premultiplying, pulls the transparent texels' black
// into the edge; premultiplied texels keep colour / alpha at the source's colour.
TEST(Resample, TransparentNeighboursDoNotDarkenAnEdge) {
    const vec4 half(1.0f * 0.5f, 0.5f * 0.5f, 0.25f * 0.5f, 0.5f), clear(0, 0, 0, 0);
    const TextureImage source = image(4, 2, {half, half, clear, clear, half, clear, clear, clear});
    for (const auto& [w, h] : {std::pair(9, 5), std::pair(2, 1), std::pair(3, 3)}) {
        int partial = 0;
        for (const vec4& t : resampleImage(source, w, h).texels) {
            if (t.w > 0.0f) {
                EXPECT_NEAR(t.x / t.w, 1.0f, 1e-6f);
                EXPECT_NEAR(t.y / t.w, 0.5f, 1e-6f);
                EXPECT_NEAR(t.z / t.w, 0.25f, 1e-6f);
                partial += t.w < 0.5f;
            }
        }
        EXPECT_GT(partial, 0) << "the edge fades out";
    }
}

// Shrinking averages every texel it covers (a sampler that skips would give a or b);
// growing lines texel centres up and repeats the edge texels.
TEST(Resample, ShrinkingAveragesAndGrowingInterpolatesBetweenCentres) {
    const vec4 a(0.2f, 0.1f, 0.0f, 0.4f), b(0.9f, 0.8f, 0.7f, 1.0f);
    std::vector<vec4> checks;
    for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 8; ++x) {
            checks.push_back((x + y) % 2 == 0 ? a : b);
        }
    }
    const TextureImage halved = resampleImage(image(8, 6, checks), 4, 3);
    ASSERT_EQ(halved.texels.size(), 12u);
    for (const vec4& t : halved.texels) {
        EXPECT_EQ(t, mix(a, 0.5, b, 0.5));
    }

    // 2 x 1 to 4 x 1: output centres at source x -0.25, 0.25, 0.75, 1.25.
    const TextureImage grown = resampleImage(image(2, 1, {a, b}), 4, 1);
    EXPECT_EQ(grown.texels[0], a);
    EXPECT_EQ(grown.texels[1], mix(a, 0.75, b, 0.25));
    EXPECT_EQ(grown.texels[2], mix(a, 0.25, b, 0.75));
    EXPECT_EQ(grown.texels[3], b);
}

int decodeFailures = 0;

// "o.png" (8 x 4, red) and its 3x copy "o@3x.png" (24 x 12, blue) in a fresh directory,
// written by our own encoder; the store loads the directory as the demo does.
class OverlayFiles : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(root_);
        decodeFailures = 0;
        setDecodeFailureHandler([] { ++decodeFailures; });
        writePng("o.png", 8, 4, red_);
        writePng("o@3x.png", 24, 12, blue_);
        writePng("p@3x.png", 24, 12, blue_);
        LogCapture quiet;
        store_.loadDirectory(dir_);
    }
    void TearDown() override {
        setDecodeFailureHandler(nullptr);
        std::filesystem::remove_all(root_);
    }
    void writePng(const std::string& name, int width, int height, const uint8_t* rgba) {
        std::vector<uint8_t> pixels;
        for (int i = 0; i < width * height; ++i) {
            pixels.insert(pixels.end(), rgba, rgba + 4);
        }
        std::string error;
        ASSERT_TRUE(savePng(
            dir_ + name,
            packedRows(pixels.data(), uint32_t(width), uint32_t(height), PngColor::Rgba), 6, error))
            << error;
    }
    // The size of the overlay at scale and whether it came from the 3x image (blue).
    std::tuple<int, int, bool> pick(const std::string& name, double scale) {
        const auto out = overlayForScale(store_, dir_, name, scale);
        if (out == nullptr) {
            return {-1, -1, false};
        }
        EXPECT_EQ(out->texels.size(), size_t(out->width) * size_t(out->height));
        return {out->width, out->height, out->texels.at(0).z > 0.5f};
    }

    static constexpr uint8_t red_[4] = {255, 0, 0, 255};
    static constexpr uint8_t blue_[4] = {0, 0, 255, 255};
    std::filesystem::path root_ = std::filesystem::temp_directory_path() /
                                  ("lumo_overlay_" + std::to_string(std::random_device()()));
    std::string dir_ = root_.string() + "/";
    TextureStore store_;
};

TEST_F(OverlayFiles, NearerImageInScaleResampledToTheScaledSize) {
    // The directory's 3x copies stay out of the store.
    ASSERT_EQ(store_.size(), 2);
    EXPECT_EQ(store_.find("o@3x.png"), 0);
    EXPECT_EQ(pick("o.png", 0.5), std::tuple(4, 2, false));
    EXPECT_EQ(pick("o.png", 1.0), std::tuple(8, 4, false));
    EXPECT_EQ(pick("o.png", 1.99), std::tuple(16, 8, false));
    EXPECT_EQ(pick("o.png", 2.0), std::tuple(16, 8, true)); // a tie: the larger
    EXPECT_EQ(pick("o.png", 2.13), std::tuple(17, 9, true));
    EXPECT_EQ(pick("o.png", 6.0), std::tuple(48, 24, true));
    EXPECT_EQ(pick("o.png", 0.01), std::tuple(1, 1, false)); // never below 1 x 1
    for (const double scale : {0.0, -1.0, std::nan(""), HUGE_VAL, 1e9}) {
        EXPECT_EQ(pick("o.png", scale), std::tuple(-1, -1, false)) << scale;
    }

    // At 1x, an exact copy of the store's image, packed bytes included: nothing drawn at
    // the original size may change.
    const TextureImage& one = *store_[store_.find("o.png")].image;
    const auto same = overlayForScale(store_, dir_, "o.png", 1.0);
    ASSERT_NE(same, nullptr);
    EXPECT_NE(same.get(), &one);
    EXPECT_EQ(std::memcmp(same->texels.data(), one.texels.data(), one.texels.size() * 16), 0);
    EXPECT_EQ(same->packed, one.packed);
    EXPECT_FALSE(one.packed.empty());
    EXPECT_EQ(store_.size(), 2) << "the 3x image is not kept";
    EXPECT_EQ(decodeFailures, 0);
}

TEST_F(OverlayFiles, MissingOrBrokenImagesFallBackOrGiveNothing) {
    // Without its 3x file the 1x image serves every scale.
    std::filesystem::remove(root_ / "o@3x.png");
    EXPECT_EQ(pick("o.png", 3.0), std::tuple(24, 12, false));
    // A 3x file that does not decode is reported, then the 1x image serves.
    {
        std::ofstream(root_ / "o@3x.png") << "not a png";
        LogCapture log;
        EXPECT_EQ(pick("o.png", 2.5), std::tuple(20, 10, false));
        EXPECT_EQ(log.text(), "error(27) decoding png from [o@3x.png]\n");
        EXPECT_EQ(decodeFailures, 1);
    }
    // Only a 3x image: the 1x size is a third of its size.
    EXPECT_EQ(pick("p.png", 1.0), std::tuple(8, 4, true));
    EXPECT_EQ(pick("p.png", 3.0), std::tuple(24, 12, true));
    // Neither, or a 1x image that failed to decode (0 x 0) and no 3x one.
    EXPECT_EQ(pick("q.png", 1.0), std::tuple(-1, -1, false));
    auto failed = std::make_unique<Texture>();
    failed->name = "f.png";
    failed->image = std::make_unique<TextureImage>();
    store_.add(std::move(failed));
    EXPECT_EQ(pick("f.png", 1.0), std::tuple(-1, -1, false));
    EXPECT_EQ(pick("f.png", 4.0), std::tuple(-1, -1, false));
}

TEST(OverlayNames, LargerCopiesAreKnownByTheirNames) {
    for (const char* name : {"t1@3x.png", "e_1@2X.PNG", "a@10x.Png", "@@3x.png"}) {
        EXPECT_TRUE(isScaledCopyName(name)) << name;
    }
    for (const char* name : {"@3x.png", "t1@x.png", "t1@3.png", "t13x.png", "t1@3x.obj", "t1@3x",
                             "t1@3xy.png", "t1.png", ""}) {
        EXPECT_FALSE(isScaledCopyName(name)) << name;
    }
}

} // namespace
} // namespace lumo
