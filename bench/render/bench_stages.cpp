// The renderer's stages one at a time, on one thread, with warm caches: the
// main thread's geometry work (transform, sort, projection) on the 20 000
// triangle sphere of the scene benchmark, and each rasterizer member over a
// fixed set of small seeded triangles, the size most demo faces have on screen.
// The geometry also runs after the caches were flushed, as in a frame, where
// the workers' buffers have pushed the meshes out. The final pass (clear,
// resolve into the canvas, tent blur) runs on a whole frame of seeded colours,
// once per vector path this processor supports.
// bench_render times whole frames; this says where a frame's time goes.
//
//   bench_stages [--benchmark_filter=REGEX] [--benchmark_repetitions=N]

#include "assets/texture.h"
#include "math/viewport.h"
#include "render/internal/finalpass.h"
#include "render/internal/pipeline.h"
#include "render/internal/raster.h"
#include "render/simd.h"
#include "sys/log.h"
#include "tests/support/meshgen.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <random>
#include <vector>

namespace lumo {
namespace {

constexpr int kWidth = 640, kHeight = 360;

// A sphere in front of the camera over a ground plane, through the pipeline
// up to the stage being measured.
struct GeometryScene {
    Viewport viewport{kWidth, kHeight, float(kWidth) / float(kHeight)};
    std::unique_ptr<Pipeline> pipeline;
    MeshStore meshes;
    Material material;
    std::vector<MeshInstance> instances;

    GeometryScene() {
        LogCapture quiet(false); // the pipeline's memory line is not part of the table
        pipeline = std::make_unique<Pipeline>(nullptr);
        const int sphere = meshes.add(makeSphere(100, 101, material));
        const int plane = meshes.add(makePlane(10, material));
        instances.emplace_back(sphere, &meshes);
        instances.back().scale = 1.5f;
        instances.back().placement = mat44::translation(vec4(0, 1.5f, -5));
        instances.emplace_back(plane, &meshes);
        instances.back().scale = 10.0f;
        instances.back().placement = mat44::translation(vec4(0, -0.2f, -5));
    }

    void transform(int frame) {
        instances[0].rotation = eulerRotation(vec4(0, 0.01f * float(frame), 0));
        pipeline->resetFrame();
        for (MeshInstance& instance : instances) {
            pipeline->transformInstance(instance, mat44::identity(), viewport);
        }
    }
};

// Runs the case on the vector path named by its argument, or skips it on a
// processor without that path; the active path is restored after.
bool enterPath(benchmark::State& state, SimdPath& previous) {
    const SimdPath path = SimdPath(state.range(0));
    if (!simdPathSupported(path)) {
        state.SkipWithError("this processor lacks the path");
        return false;
    }
    previous = activeSimdPath();
    setSimdPath(path);
    state.SetLabel(simdPathName(path));
    return true;
}

void simdPathArgs(benchmark::internal::Benchmark* b) {
    b->ArgName("path");
    for (SimdPath path : kSimdPaths) {
        b->Arg(int(path));
    }
}

void BM_Transform(benchmark::State& state) {
    SimdPath previous;
    if (!enterPath(state, previous)) {
        return;
    }
    GeometryScene scene;
    int frame = 0;
    for (auto _ : state) {
        scene.transform(frame++);
        benchmark::DoNotOptimize(scene.pipeline->faceCount);
    }
    state.counters["faces"] = scene.pipeline->faceCount;
    setSimdPath(previous);
}
BENCHMARK(BM_Transform)->Apply(simdPathArgs)->Unit(benchmark::kMicrosecond);

// Pushes the meshes and pools out of every cache level, untimed.
void flushCaches(benchmark::State& state) {
    static std::vector<char> junk(64 << 20);
    state.PauseTiming();
    for (size_t i = 0; i < junk.size(); i += 64) {
        junk[i] = char(junk[i] + 1);
    }
    benchmark::ClobberMemory();
    state.ResumeTiming();
}

void BM_TransformCold(benchmark::State& state) {
    GeometryScene scene;
    int frame = 0;
    for (auto _ : state) {
        flushCaches(state);
        scene.transform(frame++);
        benchmark::DoNotOptimize(scene.pipeline->faceCount);
    }
}
BENCHMARK(BM_TransformCold)->Unit(benchmark::kMicrosecond);

void BM_SortAndProjectCold(benchmark::State& state) {
    GeometryScene scene;
    scene.transform(0);
    for (auto _ : state) {
        flushCaches(state);
        scene.pipeline->sortFaces();
        scene.pipeline->projectVertices(scene.viewport);
        benchmark::DoNotOptimize(scene.pipeline->drawList[0]);
    }
}
BENCHMARK(BM_SortAndProjectCold)->Unit(benchmark::kMicrosecond);

void BM_SortAndProject(benchmark::State& state) {
    SimdPath previous;
    if (!enterPath(state, previous)) {
        return;
    }
    GeometryScene scene;
    scene.transform(0);
    for (auto _ : state) {
        scene.pipeline->sortFaces();
        scene.pipeline->projectVertices(scene.viewport);
        benchmark::DoNotOptimize(scene.pipeline->drawList[0]);
    }
    setSimdPath(previous);
}
BENCHMARK(BM_SortAndProject)->Apply(simdPathArgs)->Unit(benchmark::kMicrosecond);

// Seeded triangles of about 30 pixels, wound to be drawn, at depths that
// overlap so the depth test both passes and fails.
std::vector<RasterInputs> smallTriangles(const TextureImage* texture) {
    std::mt19937 random(2024);
    std::uniform_real_distribution<float> x(8.0f, kWidth - 16.0f), y(8.0f, kHeight - 16.0f);
    std::uniform_real_distribution<float> offset(-8.0f, 8.0f), depth(0.90f, 0.99f),
        unit(0.0f, 1.0f);
    std::vector<RasterInputs> triangles;
    while (triangles.size() < 4000) {
        RasterInputs in;
        const float cx = x(random), cy = y(random);
        for (int k = 0; k < 3; ++k) {
            in.screen[k] = vec4(cx + offset(random), cy + offset(random), depth(random), 1.0f);
            in.color[k] = vec4(unit(random), unit(random), unit(random), 1.0f);
            in.position[k] = vec4(0.0f, 0.0f, -2.0f - unit(random), 1.0f);
            in.texcoord[k] = vec4(unit(random), unit(random), 0.0f, 0.0f);
        }
        const vec4 &a = in.screen[0], &b = in.screen[1], &c = in.screen[2];
        const float area = (b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y);
        if (area > -20.0f || area < -80.0f) {
            continue; // drawn faces have a negative area; keep them about 15 to 40 pixels
        }
        in.texture = texture;
        triangles.push_back(in);
    }
    return triangles;
}

// A frame of colours mostly in [0, 1], some above (bright light) and below
// (negative exposure), as the resolve sees them.
void fillFrame(ColorBuffer& color) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> unit(-0.1f, 1.2f);
    for (int i = 0; i < color.width * color.height; ++i) {
        color.pixels[i] = vec4(unit(random), unit(random), unit(random), unit(random));
    }
}

void BM_Resolve(benchmark::State& state) {
    SimdPath previous;
    if (!enterPath(state, previous)) {
        return;
    }
    ColorBuffer color(kWidth, kHeight);
    fillFrame(color);
    std::vector<uint32_t> pixels(size_t(kWidth) * kHeight);
    Canvas canvas{pixels.data(), kWidth, kHeight};
    for (auto _ : state) {
        resolveRows(color, wholeBuffer(color), canvas, 0, 0, 0, kHeight, 0.0f);
        benchmark::DoNotOptimize(pixels.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kWidth * kHeight);
    setSimdPath(previous);
}

void BM_Blur(benchmark::State& state) {
    SimdPath previous;
    if (!enterPath(state, previous)) {
        return;
    }
    ColorBuffer color(kWidth, kHeight);
    fillFrame(color);
    BlurScratch scratch;
    for (auto _ : state) {
        blurColorBuffer(color, wholeBuffer(color), int(state.range(1)), scratch);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kWidth * kHeight);
    setSimdPath(previous);
}

void BM_ClearAndMark(benchmark::State& state) {
    SimdPath previous;
    if (!enterPath(state, previous)) {
        return;
    }
    ColorBuffer color(kWidth, kHeight);
    for (auto _ : state) {
        clearColorRows(color, 0, kHeight);
        markBands(color, wholeBuffer(color), 0, kHeight, 0);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kWidth * kHeight);
    setSimdPath(previous);
}

void BM_Rasterize(benchmark::State& state) {
    SimdPath previous;
    if (!enterPath(state, previous)) {
        return;
    }
    const Member member = Member(state.range(1));
    TextureImage texture;
    texture.width = texture.height = 64;
    texture.texels.assign(64 * 64, vec4(0.5f, 0.25f, 0.125f, 1.0f));
    const std::vector<RasterInputs> triangles = smallTriangles(&texture);
    ColorBuffer color(kWidth, kHeight);
    DepthBuffer depth(kWidth, kHeight);
    StencilBuffer stencil(kWidth, kHeight);
    RasterStats stats;
    RasterTarget target;
    target.color = &color;
    target.depth = &depth;
    target.stencil = &stencil;
    target.rowBegin = 0;
    target.rowEnd = kHeight;
    target.stats = &stats;
    for (auto _ : state) {
        state.PauseTiming();
        depth.clearRows(0, kHeight);
        state.ResumeTiming();
        for (const RasterInputs& in : triangles) {
            rasterize(member, target, in);
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(triangles.size()));
    state.counters["pixels/tri"] = double(stats.pixels) / double(stats.triangles);
    setSimdPath(previous);
}
BENCHMARK(BM_Rasterize)
    ->ArgNames({"path", "member"})
    ->ArgsProduct({{int(SimdPath::Sse), int(SimdPath::Avx2)},
                   {int(Member::Flat), int(Member::GouraudAdd), int(Member::GouraudAddMasked),
                    int(Member::Textured), int(Member::StencilIncrement)}})
    ->Unit(benchmark::kMicrosecond);

BENCHMARK(BM_Resolve)->Apply(simdPathArgs)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Blur)
    ->ArgNames({"path", "radius"})
    ->ArgsProduct({{int(SimdPath::Sse), int(SimdPath::Avx2)}, {2, 8}})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ClearAndMark)->Apply(simdPathArgs)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace lumo

BENCHMARK_MAIN();
