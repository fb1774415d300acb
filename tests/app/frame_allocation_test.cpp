// A frame of the demo allocates nothing: the renderer's pools and the scenes'
// storage are sized by earlier frames and kept, and every name a frame needs
// was resolved before it. Counted through a replacement of the global operator
// new of this test program, which counts only while a measurement is on. The
// same pass over every scene checks the pictures across worker counts.

#include "app/benchmark.h"
#include "app/headless.h"
#include "app/timeline.h"
#include "params/track.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <new>
#include <set>
#include <vector>

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

// Every single-object operator new comes here and every delete frees with
// free(): the sanitizers check that what a delete frees came from the matching
// new. The array forms reach these through the library's forwarding (under the
// sanitizers, which bring their own, they are neither replaced nor counted).
void* allocate(std::size_t size, std::align_val_t alignment, bool nothrow) {
    if (counting.load(std::memory_order_relaxed)) {
        allocations.fetch_add(1, std::memory_order_relaxed);
    }
    void* p = nullptr;
    const std::size_t a = std::max(std::size_t(alignment), alignof(std::max_align_t));
    if (posix_memalign(&p, a, size ? size : 1) == 0 || nothrow) {
        return p;
    }
    throw std::bad_alloc();
}
constexpr std::align_val_t plain{0};

} // namespace

void* operator new(std::size_t size) {
    return allocate(size, plain, false);
}
void* operator new(std::size_t size, std::align_val_t a) {
    return allocate(size, a, false);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size, plain, true);
}
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    return allocate(size, a, true);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}

namespace {

using namespace lumo;

// Over every scene of the timeline: no frame allocates, the middle frame of
// each scene is no blank picture and is the same with 1 worker as with 3, and
// drawing a position again gives the same picture whatever came before.
TEST(EveryScene, NoFrameAllocatesAndWorkerCountsAgree) {
    const std::string data = LUMO_DATA_DIR;
    if (!std::filesystem::exists(data + "sync_scene.track")) {
        GTEST_SKIP() << "no generated data in " << data;
    }
    // The counter works: a string too long for the string itself is counted.
    counting = true;
    std::string probe(100, 'x');
    counting = false;
    ASSERT_EQ(allocations.exchange(0), 1) << probe;

    testing::internal::CaptureStdout();
    HeadlessDemo demo(data, 3), one(data, 1);
    testing::internal::GetCapturedStdout();
    const SyncTrack* scene = demo.session().tracks.scene;
    ASSERT_TRUE(scene && scene->keyCount > 0);

    // Positions spread over the time each scene is shown, in time order, so the
    // distance clock runs forward within a pass.
    const double end = double(scene->keys[scene->keyCount - 1].row) / rowsPerSecond + 1.0;
    std::vector<std::pair<double, int>> frames;
    std::map<double, std::vector<uint32_t>> middles; // the pictures of the middle frames
    for (const auto& [number, positions] : benchPositions(scene, end, 40)) {
        for (double seconds : positions) {
            frames.emplace_back(seconds, number);
        }
        middles[positions[20]];
    }
    std::sort(frames.begin(), frames.end());
    ASSERT_EQ(frames.size(), 7u * 40u) << "every scene must occur on the timeline";

    // A warm-up pass sizes everything; the second pass must not allocate.
    const uint32_t* pixels = demo.pixels();
    const size_t count = size_t(demo.width()) * demo.height();
    for (const auto& [seconds, number] : frames) {
        EXPECT_EQ(demo.renderAt(seconds), number) << seconds;
        if (auto middle = middles.find(seconds); middle != middles.end()) {
            middle->second.assign(pixels, pixels + count);
            EXPECT_EQ(one.renderAt(seconds), number);
            EXPECT_GT(std::set<uint32_t>(pixels, pixels + count).size(), 200u)
                << "scene " << number << " is blank";
            EXPECT_TRUE(std::equal(pixels, pixels + count, one.pixels()))
                << "scene " << number << " at " << seconds << " s differs between 1 and 3 workers";
        }
    }
    std::map<int, long> perScene;
    for (const auto& [seconds, number] : frames) {
        allocations = 0;
        counting = true;
        demo.renderAt(seconds);
        counting = false;
        perScene[number] += allocations.exchange(0);
        if (auto middle = middles.find(seconds); middle != middles.end()) {
            EXPECT_TRUE(middle->second == std::vector<uint32_t>(pixels, pixels + count))
                << "scene " << number << " at " << seconds << " s drawn again differs";
        }
    }
    for (const auto& [number, count] : perScene) {
        EXPECT_EQ(count, 0) << "scene " << number << " allocated " << double(count) / 40.0
                            << " times per frame";
    }
}

// Whichever call draws a pass, a sink built on RendererSink hears of it once:
// the benchmark counts each pass's triangles there. Scene 7 draws a first
// pass, the facade pass with its blur and an output pass; scene 1 one pass,
// its end text blended in before the output.
TEST(EveryScene, EachPassReachesTheSinkOnce) {
    const std::string data = LUMO_DATA_DIR;
    if (!std::filesystem::exists(data + "sync_scene.track")) {
        GTEST_SKIP() << "no generated data in " << data;
    }
    testing::internal::CaptureStdout();
    HeadlessDemo demo(data, 2);
    testing::internal::GetCapturedStdout();
    struct Passes : RendererSink {
        using RendererSink::RendererSink;
        int count = 0;
        void passDrawn() override { ++count; }
    };
    DemoSession& d = demo.session();
    Passes sink(*d.renderer, *d.textures, &d.overlays);
    EXPECT_EQ(demo.renderAt(5.817, &sink), 7);
    EXPECT_EQ(sink.count, 3);
    sink.count = 0;
    EXPECT_EQ(demo.renderAt(153.217, &sink), 1);
    EXPECT_EQ(sink.count, 1);
}

} // namespace
