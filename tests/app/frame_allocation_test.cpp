// A frame of the demo allocates nothing: the renderer's pools and the scenes'
// storage are sized by earlier frames and kept, and every name a frame needs
// was resolved before it. Counted through a replacement of the global operator
// new of this test program, which counts only while a measurement is on.

#include "app/benchmark.h"
#include "app/headless.h"
#include "app/timeline.h"
#include "params/track.h"
#include "sys/log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

void count() {
    if (counting.load(std::memory_order_relaxed)) {
        allocations.fetch_add(1, std::memory_order_relaxed);
    }
}

void* allocate(std::size_t size) {
    count();
    if (void* p = std::malloc(size ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}

void* allocate(std::size_t size, std::align_val_t alignment) {
    count();
    void* p = nullptr;
    const std::size_t a = std::max(std::size_t(alignment), sizeof(void*));
    if (posix_memalign(&p, a, size ? size : 1) == 0) {
        return p;
    }
    throw std::bad_alloc();
}

} // namespace

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void* operator new(std::size_t size, std::align_val_t a) {
    return allocate(size, a);
}
void* operator new[](std::size_t size, std::align_val_t a) {
    return allocate(size, a);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    try {
        return allocate(size, a);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    try {
        return allocate(size, a);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace {

using namespace lumo;

TEST(FrameAllocations, NoFrameOfAnySceneAllocates) {
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
    std::unique_ptr<HeadlessDemo> made;
    {
        LogCapture quiet(false);
        made = std::make_unique<HeadlessDemo>(data, 2);
    }
    testing::internal::GetCapturedStdout();
    HeadlessDemo& demo = *made;
    ASSERT_NE(demo.session().trackSet, nullptr);
    const SyncTrack* scene = demo.session().tracks.scene;
    ASSERT_TRUE(scene && scene->keyCount > 0);

    // Positions spread over the time each scene is shown, in time order, so the
    // distance clock runs forward within a pass.
    const double end = double(scene->keys[scene->keyCount - 1].row) / rowsPerSecond + 1.0;
    std::vector<std::pair<double, int>> frames;
    for (const auto& [number, positions] : benchPositions(scene, end, 40)) {
        for (double seconds : positions) {
            frames.emplace_back(seconds, number);
        }
    }
    std::sort(frames.begin(), frames.end());
    ASSERT_EQ(frames.size(), 7u * 40u) << "every scene must occur on the timeline";

    // A warm-up pass sizes everything; the second pass must not allocate.
    for (const auto& [seconds, number] : frames) {
        EXPECT_EQ(demo.renderAt(seconds), number) << seconds;
    }
    std::vector<long> perFrame(frames.size(), 0);
    for (size_t i = 0; i < frames.size(); ++i) {
        allocations = 0;
        counting = true;
        demo.renderAt(frames[i].first);
        counting = false;
        perFrame[i] = allocations.exchange(0);
    }

    std::map<int, long> perScene;
    for (size_t i = 0; i < frames.size(); ++i) {
        perScene[frames[i].second] += perFrame[i];
    }
    for (const auto& [number, count] : perScene) {
        EXPECT_EQ(count, 0) << "scene " << number << " allocated " << double(count) / 40.0
                            << " times per frame";
    }
}

} // namespace
