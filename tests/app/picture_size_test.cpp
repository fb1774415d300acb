// The demo at any size: where the 16:9 picture sits in frames of every shape,
// the --size and --native options, and the real demo drawn at other sizes:
// a 640 x 480 frame is the 640 x 360 picture between black bars, and large or
// odd sizes give the same bytes with any worker count.

#include "app/headless.h"
#include "app/options.h"
#include "app/picture_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <tuple>
#include <vector>

namespace lumo {
namespace {

TEST(PictureLayout, TheLargest16By9PictureCentredInAnyFrame) {
    using T = std::tuple<int, int, int, int, int, int>; // frame w, h; picture left, top, w, h
    for (auto [fw, fh, left, top, w, h] : {
             T{640, 360, 0, 0, 640, 360},
             T{640, 480, 0, 60, 640, 360},      // 4:3, as the demo's window always was
             T{1024, 768, 0, 96, 1024, 576},    // 4:3
             T{1920, 1200, 0, 60, 1920, 1080},  // 16:10
             T{2560, 1080, 320, 0, 1920, 1080}, // 21:9: bars left and right
             T{3440, 1440, 440, 0, 2560, 1440}, // 21:9
             T{1366, 768, 0, 0, 1365, 768},     // nearly 16:9: 1365.3 rounds down
             T{1000, 562, 0, 0, 999, 562},      // 999.1: neither side a multiple of 8
             T{321, 181, 0, 0, 321, 181},       // 180.6 rounds up, and still fits
             T{320, 2160, 0, 990, 320, 180},    // a tall strip
         }) {
        SCOPED_TRACE(std::to_string(fw) + "x" + std::to_string(fh));
        const PictureLayout p = layoutPicture(fw, fh);
        EXPECT_EQ(std::tuple(p.left, p.top, p.width, p.height), std::tuple(left, top, w, h));
        EXPECT_EQ(std::tuple(p.frameWidth, p.frameHeight), std::tuple(fw, fh));
        EXPECT_DOUBLE_EQ(p.scale, h / 360.0);
    }

    // Lengths of the 640 x 360 picture in this one's pixels, rounded; wild
    // values saturate instead of overflowing.
    const PictureLayout full = layoutPicture(1920, 1080), odd = layoutPicture(1366, 768);
    EXPECT_EQ(full.scaled(300), 900);
    EXPECT_EQ(full.scaled(-7), -21);
    EXPECT_EQ(odd.scaled(10), 21); // 21.33
    EXPECT_EQ(odd.scaled(100), 213);
    EXPECT_EQ(layoutPicture(640, 480).scaled(123), 123);
    EXPECT_EQ(full.scaled(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(full.scaled(1e300), 1 << 24);
    EXPECT_EQ(full.scaled(-1e300), -(1 << 24));
}

Options parse(std::vector<const char*> args) {
    args.insert(args.begin(), "lumo");
    return parseCommandLine(int(args.size()), args.data());
}

TEST(PictureSizeOptions, SizeAndNativeWithTheirMistakes) {
    Options o = parse({"--size", "1920x1080"});
    EXPECT_EQ(std::tuple(o.error, o.width, o.height, o.launcher, o.fullScreen),
              std::tuple("", 1920, 1080, false, false));
    o = parse({"--size", "320x180", "--fullscreen"});
    EXPECT_EQ(std::tuple(o.error, o.width, o.height, o.fullScreen), std::tuple("", 320, 180, true));
    o = parse({"--frame", "3", "--out", "f.png", "--size", "3840x2160"});
    EXPECT_EQ(std::tuple(o.error, o.width, o.height), std::tuple("", 3840, 2160));
    o = parse({"--native"});
    EXPECT_TRUE(o.error.empty() && o.native && o.fullScreen && !o.launcher && o.width == 0);
    EXPECT_EQ(parse({"--bench", "--size", "1365x767"}).height, 767);
    EXPECT_EQ(parse({"--no-launcher"}).width, 0);

    for (const char* bad : {"319x180", "320x179", "3841x2160", "3840x2161", "1920", "1920x",
                            "x1080", "1920X1080", "+1920x1080", "1920x+1080", "1920x1080x1",
                            " 1920x1080", "1920 x1080", "0x0", "99999999999x1080", "-640x360"}) {
        Options e = parse({"--size", bad});
        EXPECT_EQ(e.error, "--size needs WIDTHxHEIGHT from 320x180 to 3840x2160, not '" +
                               std::string(bad) + "' (try --help)")
            << bad;
    }
    for (std::vector<const char*> bad : {std::vector<const char*>{"--size"},
                                         {"--native", "--size", "640x360"},
                                         {"--native", "--force-720p"},
                                         {"--native", "--frame", "1", "--out", "f.png"},
                                         {"--native", "--bench"},
                                         {"--size", "640x360", "--force-720p"}}) {
        Options e = parse(bad);
        EXPECT_FALSE(e.error.empty()) << bad[0] << " " << bad.size();
        EXPECT_EQ(e.error.find('\n'), std::string::npos);
    }
    for (const char* option : {"--size WxH", "--native"}) {
        EXPECT_NE(std::string(usageText()).find(option), std::string::npos) << option;
    }
}

// The generated demo drawn at other sizes.
class PictureSizes : public testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(data + "sync_scene.track")) {
            GTEST_SKIP() << "no generated data in " << data;
        }
    }
    std::unique_ptr<HeadlessDemo> load(int threads, int width, int height) {
        testing::internal::CaptureStdout();
        auto demo = std::make_unique<HeadlessDemo>(data, threads, width, height);
        testing::internal::GetCapturedStdout();
        return demo;
    }
    const std::string data = LUMO_DATA_DIR;
    // One position in each scene; 10 and 160 s are end texts and titles, 153 s
    // a blur.
    const std::vector<double> positions = {3.0, 10.0, 31.0, 58.0, 80.0, 110.0, 153.3, 160.0};
};

// The 640 x 480 frame (the demo's window) is the 640 x 360 frame with 60 black
// rows above and below, byte for byte.
TEST_F(PictureSizes, A640By480FrameIsThe640By360PictureBetweenBlackBars) {
    auto wide = load(2, 640, 360), framed = load(3, 640, 480);
    for (double seconds : positions) {
        SCOPED_TRACE(seconds);
        EXPECT_EQ(wide->renderAt(seconds), framed->renderAt(seconds));
        const uint32_t* bars = framed->pixels();
        EXPECT_TRUE(std::all_of(bars, bars + 640 * 60, [](uint32_t p) { return p == 0; }));
        EXPECT_TRUE(std::equal(wide->pixels(), wide->pixels() + 640 * 360, bars + 640 * 60));
        EXPECT_TRUE(
            std::all_of(bars + 640 * 420, bars + 640 * 480, [](uint32_t p) { return p == 0; }));
    }
}

// Overlays are made once, at the picture's scale; the demo's own scale keeps
// the loaded textures.
TEST_F(PictureSizes, OverlaysAreMadeAtThePictureScale) {
    auto full = load(1, 1920, 1080), odd = load(1, 1366, 768), window = load(1, 640, 480);
    EXPECT_TRUE(window->session().overlays.empty());
    const TextureStore& textures = *full->session().textures;
    for (const char* name : SceneAssets::kOverlays) {
        SCOPED_TRACE(name);
        const int index = textures.find(name);
        ASSERT_GT(index, 0);
        const TextureImage& base = *textures[index].image;
        for (auto [demo, scale] : {std::pair{full.get(), 3.0}, std::pair{odd.get(), 768 / 360.0}}) {
            const auto& scaled = demo->session().overlays.at(size_t(index));
            ASSERT_TRUE(scaled);
            EXPECT_EQ(scaled->width, std::lround(base.width * scale));
            EXPECT_EQ(scaled->height, std::lround(base.height * scale));
        }
    }
}

// 1920 x 1080, and a 1000 x 562 frame whose 999 x 562 picture has neither side
// on a tile boundary and a black column beside it: the same bytes with 1, 2,
// 3 and 8 workers, a real picture right up to its last row and column.
TEST_F(PictureSizes, LargeAndOddSizesGiveTheSameBytesWithAnyWorkerCount) {
    for (auto [width, height] : {std::pair{1920, 1080}, std::pair{1000, 562}}) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        const PictureLayout layout = layoutPicture(width, height);
        std::vector<std::vector<uint32_t>> reference;
        for (int threads : {1, 2, 3, 8}) {
            auto demo = load(threads, width, height);
            ASSERT_EQ(std::tuple(demo->width(), demo->height()), std::tuple(width, height));
            for (size_t i = 0; i < 4; ++i) {
                const double seconds = positions[i * 2 + 1]; // 10, 58, 110, 160 s
                demo->renderAt(seconds);
                std::vector<uint32_t> frame(demo->pixels(),
                                            demo->pixels() + size_t(width) * height);
                if (threads == 1) {
                    const auto lastRow = frame.begin() + size_t(layout.height - 1) * width;
                    EXPECT_GT(std::count_if(lastRow, lastRow + layout.width,
                                            [](uint32_t p) { return (p & 0xFFFFFF) != 0; }),
                              layout.width / 4)
                        << "the last row is not drawn at " << seconds << " s";
                    for (int y = 0; layout.left + layout.width < width && y < height; ++y) {
                        ASSERT_EQ(frame[size_t(y) * width + width - 1], 0u) << "bar, row " << y;
                    }
                    reference.push_back(std::move(frame));
                } else {
                    EXPECT_TRUE(frame == reference[i])
                        << threads << " workers differ at " << seconds << " s";
                }
            }
        }
    }
}

} // namespace
} // namespace lumo
