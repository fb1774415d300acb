// Whole pictures: identical bytes whatever the worker count, band layout and
// raster path; the renderer's set-up lines, band rules and missing targets.

#include "render/finalpass.h"
#include "render/renderer.h"
#include "scenes.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

namespace lumo::test {
namespace {

const char* const kSceneNames[] = {"sky", "clipped", "twopasses", "shadows", "shadowsinside"};

class RendererScenes : public ::testing::TestWithParam<Scene> {
protected:
    static Assets& assets() {
        static Assets a = makeAssets();
        return a;
    }
};

TEST_P(RendererScenes, SameBytesForEveryWorkerCountLayoutAndRasterPath) {
    RenderOptions options;
    std::vector<Picture> reference = renderScene(assets(), GetParam(), options);
    // Something was drawn, and the canvas rows outside the whole blocks kept their contents.
    const Picture& first = reference.front();
    int drawn = 0;
    for (const vec4& c : first.color) {
        drawn += c.x != 0.0f || c.y != 0.0f || c.z != 0.0f;
    }
    EXPECT_GT(drawn, 320 * 176 / 5);
    const size_t rowsEnd = size_t((options.height >> 3) * 8 + 4) * options.width;
    for (size_t i = 0; i < first.canvas.size(); ++i) {
        if (i < size_t(4) * options.width || i >= rowsEnd) {
            ASSERT_EQ(first.canvas[i], 0xDEADBEEFu) << i;
        }
    }
    auto expectSame = [&](const std::string& what) {
        std::vector<Picture> pictures = renderScene(assets(), GetParam(), options);
        for (size_t f = 0; f < pictures.size(); ++f) {
            EXPECT_TRUE(pictures[f] == reference[f]) << what << ", frame " << f;
        }
    };
    for (int threads : {2, 3, 8}) {
        options.threads = threads;
        expectSame(std::to_string(threads) + " workers");
    }
    setRasterFastPaths(false);
    expectSame("fast paths off");
    setRasterFastPaths(true);
    // Fixed uneven layouts, empty bands included.
    options.threads = 4;
    for (std::vector<int> layout : {std::vector<int>{1, 0, 20, 1}, std::vector<int>{0, 0, 0, 22},
                                    std::vector<int>{7, 7, 0, 8}}) {
        options.blockCounts = layout;
        expectSame("layout " + std::to_string(layout[0]) + "," + std::to_string(layout[1]));
    }
}

INSTANTIATE_TEST_SUITE_P(Scenes, RendererScenes,
                         ::testing::Values(Scene::SkyBox, Scene::Clipped, Scene::TwoPasses,
                                           Scene::Shadows, Scene::ShadowsInside),
                         [](const auto& info) {
                             return std::string(kSceneNames[int(info.param)]);
                         });

// Events hand every frame to the workers and back: a lost wake-up would hang
// the demo. Both the polling and the sleeping road, in a long ping-pong, and a
// manual event releasing several waiters at once.
TEST(Event, NeverLosesAWakeUp) {
    for (int polls : {0, 50}) {
        Event ping(Event::Reset::Auto, polls), pong(Event::Reset::Auto, polls);
        int value = 0; // written by each side only while the other waits
        std::thread partner([&] {
            for (int i = 0; i < 5000; ++i) {
                ping.wait();
                ++value;
                pong.set();
            }
        });
        for (int i = 0; i < 5000; ++i) {
            ping.set();
            pong.wait();
        }
        partner.join();
        EXPECT_EQ(value, 5000) << polls << " polls";
        EXPECT_FALSE(ping.isSet()); // auto-reset: each set let one wait through
    }
    Event gate(Event::Reset::Manual);
    std::atomic<int> through{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            gate.wait();
            ++through;
        });
    }
    gate.set();
    for (std::thread& t : waiters) {
        t.join();
    }
    EXPECT_EQ(through.load(), 3);
    EXPECT_TRUE(gate.isSet()); // stays set until reset
    gate.reset();
    EXPECT_FALSE(gate.isSet());
}

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

TEST(Renderer, WorkerCountsAndBalancing) {
    CaptureStdout quiet;
    Renderer capped(16, 16, nullptr, 100);
    EXPECT_EQ(capped.threadCount, Renderer::kMaxWorkers);
    EXPECT_EQ(capped.workers[Renderer::kMaxWorkers - 1].blockCount, 2);
    Renderer r(32, 24, nullptr, 5); // 3 blocks, 5 workers: the last starts with all
    EXPECT_EQ(r.workers[3].blockCount, 0);
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
        // The band layout always tiles the picture with non-empty or empty bands.
        EXPECT_EQ(r.workers[0].rowBegin, 0);
        for (int t = 1; t < 5; ++t) {
            ASSERT_GE(r.workers[t - 1].blockCount, 0);
            ASSERT_EQ(r.workers[t].rowBegin, r.workers[t - 1].rowEnd);
        }
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

} // namespace
} // namespace lumo::test
