// Whole pictures: identical bytes whatever the worker count, band layout and
// raster path; the renderer's set-up lines, band rules and missing targets.

#include "render/internal/event.h"
#include "render/internal/raster.h"
#include "scenes.h"
#include "sys/log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

namespace lumo::test {
namespace {

TEST(RendererScenes, SameBytesForEveryWorkerCountLayoutAndRasterPath) {
    for (Scene scene : {Scene::Clipped, Scene::TwoPasses, Scene::Shadows, Scene::ShadowsInside}) {
        SCOPED_TRACE(int(scene));
        const std::vector<Picture> reference = renderScene(scene, 1);
        // Something was drawn, and the canvas rows outside the whole blocks kept
        // their contents.
        const std::vector<uint32_t>& canvas = reference.front().canvas;
        const auto first = canvas.begin() + 4 * 320, end = canvas.begin() + 180 * 320;
        EXPECT_GT(std::count_if(first, end, [](uint32_t p) { return (p & 0xFFFFFF) != 0; }),
                  320 * 176 / 5);
        EXPECT_EQ(std::count(canvas.begin(), first, 0xDEADBEEFu) +
                      std::count(end, canvas.end(), 0xDEADBEEFu),
                  (4 + 8) * 320);
        for (int threads : {2, 3, 5, 8}) {
            EXPECT_TRUE(renderScene(scene, threads) == reference) << threads << " workers";
        }
        setRasterFastPaths(false);
        EXPECT_TRUE(renderScene(scene, 3) == reference) << "fast paths off";
        setRasterFastPaths(true);
        // Fixed uneven layouts, empty bands included.
        for (const std::vector<int>& layout : {std::vector<int>{1, 0, 20, 1}, {0, 0, 0, 22}}) {
            EXPECT_TRUE(renderScene(scene, 4, layout) == reference) << "layout " << layout[0];
        }
    }
}

// Events hand every frame to the workers and back: a lost wake-up would hang
// the demo. Both the polling and the sleeping road, in a long ping-pong; then
// sleepers roused many times before their start, which rousing never lets
// through, released at once by a manual event.
TEST(Event, NeverLosesAWakeUp) {
    for (int micros : {0, 20}) {
        const std::chrono::microseconds spin(micros);
        Event ping(Event::Reset::Auto, spin), pong(Event::Reset::Auto, spin);
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
        EXPECT_EQ(value, 5000) << micros << " us polling";
        EXPECT_FALSE(ping.isSet()); // auto-reset: each set let one wait through
    }
    Event gate(Event::Reset::Manual, std::chrono::microseconds(10));
    gate.setSpin(std::chrono::microseconds(10), std::chrono::microseconds(200));
    std::atomic<int> through{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            gate.wait();
            ++through;
        });
    }
    for (int i = 0; i < 50; ++i) {
        gate.rouse();
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    EXPECT_EQ(through.load(), 0);
    gate.set();
    for (std::thread& t : waiters) {
        t.join();
    }
    EXPECT_EQ(through.load(), 3);
    EXPECT_TRUE(gate.isSet()); // stays set until reset
    gate.reset();
    EXPECT_FALSE(gate.isSet());
}

// The last worker takes the blocks left over; counts are capped. (The set-up
// lines are part of the console output the golden check holds.)
TEST(Renderer, BandsAndWorkerCounts) {
    LogCapture quiet(false);
    ColorBuffer color44(64, 44), color16(16, 16), color24(32, 24);
    // 5 blocks: 1, 1, 3; rows 40..43 never drawn
    Renderer three(RenderTargets{&color44, nullptr, nullptr}, nullptr, 3);
    Renderer capped(RenderTargets{&color16, nullptr, nullptr}, nullptr, 100);
    // 3 blocks, 5 workers: the last starts with all
    Renderer five(RenderTargets{&color24, nullptr, nullptr}, nullptr, 5);
    auto blocks = [](const Renderer& r, int t) { return r.statistics().worker[size_t(t)].blocks; };
    EXPECT_TRUE(blocks(three, 0) == 1 && blocks(three, 1) == 1 && blocks(three, 2) == 3);
    EXPECT_FALSE(three.setBlockCounts({1, 1, 1}));
    EXPECT_TRUE(three.setBlockCounts({0, 5, 0}));
    EXPECT_EQ(capped.threadCount(), Renderer::kMaxWorkers);
    EXPECT_EQ(blocks(capped, Renderer::kMaxWorkers - 1), 2);
    EXPECT_TRUE(blocks(five, 3) == 0 && blocks(five, 4) == 3);
}

// A frame without all its targets is skipped with a message, once; an empty one
// only resolves the colour buffer.
TEST(Renderer, EmptyFrameOnlyResolvesAndMissingTargetsAreReported) {
    Rig rig(2, 16, 16);
    std::fill_n(rig.color.pixels, 256, vec4(0.5f, 0.25f, 1.0f, 0.0f));
    LogCapture out;
    {
        Renderer noDepth(RenderTargets{&rig.color, nullptr, &rig.stencil}, nullptr, 2);
        noDepth.setOutput(&rig.canvas, 4);
        for (int frame = 0; frame < 2; ++frame) {
            noDepth.beginFrame();
            noDepth.renderFrame();
        }
    }
    EXPECT_EQ(rig.canvasPixels[4 * 16], 0xDEADBEEFu);
    rig.render(mat44::identity(), {}, {}, false);
    EXPECT_EQ(rig.canvasPixels[4 * 16], 0x008040FFu);
    EXPECT_EQ(rig.canvasPixels[20 * 16 - 1], 0x008040FFu);
    const std::string text = out.text(),
                      skipped =
                          "TLR: render targets missing or smaller than 16 x 16, frame skipped\n";
    ASSERT_NE(text.find(skipped), std::string::npos);
    EXPECT_EQ(text.find(skipped), text.rfind(skipped)) << "reported twice";
}

} // namespace
} // namespace lumo::test
