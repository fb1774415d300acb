// Whole pictures: identical bytes whatever the worker count and band layout,
// identical with the fast paths off, and the renderer's set-up and band rules.

#include "render/finalpass.h"
#include "render/renderer.h"
#include "scenes.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <string>

namespace lumo::test {
namespace {

const char* sceneName(Scene s) {
    switch (s) {
    case Scene::LitMeshes:
        return "lit";
    case Scene::SkyBox:
        return "sky";
    case Scene::Clipped:
        return "clipped";
    case Scene::TwoPasses:
        return "twopasses";
    case Scene::PixelLighting:
        return "pixellit";
    case Scene::Shadows:
        return "shadows";
    case Scene::ShadowsInside:
        return "shadowsinside";
    default:
        return "?";
    }
}

class RendererScenes : public ::testing::TestWithParam<Scene> {
protected:
    static Assets& assets() {
        static Assets a = makeAssets();
        return a;
    }
};

TEST_P(RendererScenes, SameBytesForEveryWorkerCount) {
    RenderOptions options;
    std::vector<Picture> reference = renderScene(assets(), GetParam(), options);
    // Something was drawn, and the rows below the last whole block kept their contents.
    const Picture& first = reference.front();
    int drawn = 0;
    for (const vec4& c : first.color) {
        drawn += c.x != 0.0f || c.y != 0.0f || c.z != 0.0f;
    }
    EXPECT_GT(drawn, 320 * 176 / 5);
    const int rows = (options.height >> 3) * 8;
    for (size_t i = size_t(rows + 4) * options.width; i < first.canvas.size(); ++i) {
        ASSERT_EQ(first.canvas[i], 0xDEADBEEFu);
    }
    for (size_t i = 0; i < size_t(4) * options.width; ++i) {
        ASSERT_EQ(first.canvas[i], 0xDEADBEEFu);
    }
    std::string name =
        std::string(LUMO_TEST_OUTPUT_DIR) + "/scene-" + sceneName(GetParam()) + ".png";
    writePng(name, first.canvas.data() + 4 * options.width, options.width, options.height);

    for (int threads : {2, 3, 5, 8}) {
        options.threads = threads;
        std::vector<Picture> pictures = renderScene(assets(), GetParam(), options);
        for (size_t f = 0; f < pictures.size(); ++f) {
            EXPECT_TRUE(pictures[f] == reference[f]) << threads << " workers, frame " << f;
        }
    }
    // Fixed uneven layouts, empty bands included.
    for (std::vector<int> layout : {std::vector<int>{1, 0, 20, 1}, std::vector<int>{0, 0, 0, 22},
                                    std::vector<int>{7, 7, 0, 8}}) {
        options.threads = 4;
        options.blockCounts = layout;
        std::vector<Picture> pictures = renderScene(assets(), GetParam(), options);
        for (size_t f = 0; f < pictures.size(); ++f) {
            EXPECT_TRUE(pictures[f] == reference[f]) << "layout " << layout[0] << "," << layout[1];
        }
    }
}

TEST_P(RendererScenes, FastPathsOffGiveTheSamePicture) {
    RenderOptions options;
    options.threads = 2;
    options.frames = 2;
    std::vector<Picture> fast = renderScene(assets(), GetParam(), options);
    setRasterFastPaths(false);
    std::vector<Picture> slow = renderScene(assets(), GetParam(), options);
    setRasterFastPaths(true);
    for (size_t f = 0; f < fast.size(); ++f) {
        EXPECT_TRUE(fast[f] == slow[f]) << "frame " << f;
    }
}

INSTANTIATE_TEST_SUITE_P(Scenes, RendererScenes,
                         ::testing::Values(Scene::LitMeshes, Scene::SkyBox, Scene::Clipped,
                                           Scene::TwoPasses, Scene::PixelLighting, Scene::Shadows,
                                           Scene::ShadowsInside),
                         [](const auto& info) { return std::string(sceneName(info.param)); });

TEST(Renderer, SetUpLinesAndBands) {
    CaptureStdout out;
    std::string text;
    {
        Renderer r(64, 44, nullptr, 3); // 5 blocks: 1, 1, 3; rows 40..43 never drawn
        text = out.text();
        EXPECT_EQ(r.threadCount, 3);
        EXPECT_EQ(r.workers[0].blockCount, 1);
        EXPECT_EQ(r.workers[1].blockCount, 1);
        EXPECT_EQ(r.workers[2].blockCount, 3);
        EXPECT_FALSE(r.setBlockCounts({1, 1, 1}));
        EXPECT_TRUE(r.setBlockCounts({0, 5, 0}));
    }
    EXPECT_NE(text.find("TLR: threads setup.\nTLR: last chunk fixed.\n--mat44:\n"),
              std::string::npos);
    EXPECT_NE(text.find("TLR: viewport created\nnew pipeline uses:       35.10 MB\n"
                        "TLR: pipeline created\nTLR: my width(64), and height(44)\n"),
              std::string::npos);
}

TEST(Renderer, WorkerCountIsCapped) {
    CaptureStdout quiet;
    Renderer r(16, 16, nullptr, 100);
    EXPECT_EQ(r.threadCount, Renderer::kMaxWorkers);
    EXPECT_EQ(r.workers[Renderer::kMaxWorkers - 1].blockCount, 2);
}

TEST(Renderer, MoreWorkersThanBlocksAndBalancing) {
    CaptureStdout quiet;
    Renderer r(32, 24, nullptr, 5); // 3 blocks, 5 workers: the last starts with all
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(r.workers[t].blockCount, 0);
    }
    EXPECT_EQ(r.workers[4].blockCount, 3);
    ColorBuffer color(32, 24);
    DepthBuffer depth(32, 24);
    StencilBuffer stencil(32, 24);
    r.colorBuffer = &color;
    r.depthBuffer = &depth;
    r.stencilBuffer = &stencil;
    for (int frame = 0; frame < 20; ++frame) {
        r.beginFrame();
        r.clearDepth = true;
        r.transformAll();
        r.renderFrame();
        int sum = 0;
        for (int t = 0; t < 5; ++t) {
            sum += r.workers[t].blockCount;
            EXPECT_GE(r.workers[t].blockCount, 0);
        }
        EXPECT_EQ(sum, 3);
        // The band layout always tiles the picture.
        EXPECT_EQ(r.workers[0].rowBegin, 0);
        EXPECT_EQ(r.workers[4].rowEnd, 24);
    }
}

TEST(Renderer, EmptyFrameOnlyResolvesAndMissingTargetsAreReported) {
    CaptureStdout out;
    Renderer r(16, 16, nullptr, 2);
    std::vector<uint32_t> pixels(16 * 16, 0);
    Canvas canvas{pixels.data(), 16, 16};
    r.output = &canvas;
    r.beginFrame();
    r.renderFrame(); // no targets yet
    ColorBuffer color(16, 16);
    DepthBuffer depth(16, 16);
    StencilBuffer stencil(16, 16);
    for (int i = 0; i < 256; ++i) {
        color.pixels[i] = vec4(0.5f, 0.25f, 1.0f, 0.0f);
    }
    r.colorBuffer = &color;
    r.depthBuffer = &depth;
    r.stencilBuffer = &stencil;
    r.beginFrame();
    r.renderFrame();
    EXPECT_EQ(pixels[0], 0x008040FFu);
    EXPECT_EQ(pixels[255], 0x008040FFu);
    EXPECT_NE(
        out.text().find("TLR: render targets missing or smaller than 16 x 16, frame skipped\n"),
        std::string::npos);
}

TEST(Renderer, ShowThreadsMarksBandBorders) {
    CaptureStdout quiet;
    Renderer r(32, 32, nullptr, 2);
    ColorBuffer color(32, 32);
    DepthBuffer depth(32, 32);
    StencilBuffer stencil(32, 32);
    r.colorBuffer = &color;
    r.depthBuffer = &depth;
    r.stencilBuffer = &stencil;
    r.balancing = false;
    r.showThreads = true;
    r.beginFrame();
    r.renderFrame();
    const vec4 magenta(1, 0, 1, 0);
    EXPECT_EQ(color.at(0, 0), magenta);
    EXPECT_EQ(color.at(15, 0), magenta);
    EXPECT_EQ(color.at(16, 0), vec4());
    EXPECT_EQ(color.at(5, 15), magenta); // end of worker 0's band (2 blocks)
    EXPECT_EQ(color.at(5, 31), magenta);
    EXPECT_EQ(color.at(5, 16), vec4());
}

// Many frames with several workers: run under the thread sanitizer this is the
// race check of the frame protocol.
TEST(Renderer, ManyFramesWithFourWorkers) {
    static Assets a = makeAssets();
    RenderOptions options;
    options.threads = 4;
    options.width = 160;
    options.height = 96;
    options.frames = 1;
    std::vector<Picture> reference = renderScene(a, Scene::LitMeshes, options);
    options.frames = 200;
    std::vector<Picture> pictures = renderScene(a, Scene::LitMeshes, options);
    EXPECT_TRUE(pictures[0] == reference[0]);
}

} // namespace
} // namespace lumo::test
