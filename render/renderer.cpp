#include "render/renderer.h"

#include "render/finalpass.h"
#include "render/shading.h"
#include "render/shadowbin.h"
#include "sys/log.h"
#include "sys/threads.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <system_error>

namespace lumo {

Renderer::Renderer(int width_, int height_, TextureStore* textures, int threads)
    : width(std::max(width_, 0)), height(std::max(height_, 0)) {
    lights.reserve(64);
    instances.reserve(1024);

    const std::vector<int> processors = sys::affinityProcessors();
    // A worker that shares the processor the calling thread is pinned to must not
    // poll for its start: the polling would take that processor from the thread
    // that prepares the next frame.
    const int callerProcessor = sys::pinnedProcessor();
    threadCount = threads > 0 ? threads : int(processors.size());
    threadCount = std::clamp(threadCount, 1, kMaxWorkers);

    workers = std::make_unique<WorkerState[]>(threadCount);

    int started = 0;
    for (int t = 0; t < threadCount; ++t) {
        WorkerState& w = workers[t];
        w.renderer = this;
        w.index = t;
        w.quit = 0;
        const int processor = processors[size_t(t) % processors.size()];
        // A worker elsewhere than the pinned caller is roused while the caller
        // prepares a frame, and the caller polls for its end: neither poll takes
        // a processor that somebody else needs. An unpinned caller may share any
        // processor with the workers, so it only sleeps.
        w.rousable = callerProcessor >= 0 && processor != callerProcessor;
        w.startEvent.setSpin(processor == callerProcessor ? std::chrono::microseconds(0) : kSpin,
                             w.rousable ? kRousedSpin : std::chrono::microseconds(0));
        w.doneEvent.setSpin(w.rousable ? kSpin : std::chrono::microseconds(0));
        w.binsReadyEvent.setSpin(kSpin);
        try {
            w.thread = std::thread(&Renderer::workerLoop, &w);
        } catch (const std::system_error&) {
            // Fewer workers still draw every band; with none there is no renderer.
            if (t == 0) {
                throw;
            }
            logPrintf("TLR: could not start worker %d, running with %d\n", t, t);
            break;
        }
        ++started;
        w.threadId = w.thread.get_id();
        // Pinning outside the mask would silently succeed, so pin to the t-th
        // processor that the mask lists (repeating when there are more workers).
        sys::pinThread(w.thread, processor);
    }
    threadCount = started;
    shadowBins.reserve(size_t(threadCount) * shadowSlots);
    for (int b = 0; b < threadCount * shadowSlots; ++b) {
        shadowBins.emplace_back(kShadowBinVertices);
    }
    shadowCounts.assign(size_t(threadCount) * shadowSlots, 0);
    const int blocks = height >> 3;
    const int share = blocks / threadCount;
    for (int t = 0; t < threadCount; ++t) {
        workers[t].threadCount = threadCount;
        workers[t].blockCount = share;
    }
    logPrintf("TLR: threads setup.\n");
    workers[threadCount - 1].blockCount += blocks - share * threadCount;
    logPrintf("TLR: last chunk fixed.\n");

    viewport = std::make_unique<Viewport>(width, height, float(width) / float(std::max(height, 1)));
    logPrintf("TLR: viewport created\n");
    pipeline = std::make_unique<Pipeline>(textures);
    pipeline->shadowMarks.workers = threadCount;
    pipeline->shadowMarks.startCapacity = kShadowBinVertices;
    pipeline->shadowMarks.bins.assign(shadowBins.size(), 0);
    logPrintf("TLR: pipeline created\n");
    logPrintf("TLR: my width(%d), and height(%d)\n", width, height);
}

Renderer::~Renderer() {
    for (int t = 0; t < threadCount; ++t) {
        workers[t].quit = 1;
        workers[t].startEvent.set();
    }
    for (int t = 0; t < threadCount; ++t) {
        if (workers[t].thread.joinable()) {
            workers[t].thread.join();
        }
    }
}

void Renderer::beginFrame() {
    lights.clear();
    instances.clear();
    shadowLightCount = 0;
    unshadowedLights = 0;
    pixelLighting = false;
    pipeline->resetFrame();
    // The workers start once the frame is transformed; a sleeping worker takes
    // long to wake on some machines, so it wakes now, while this thread works.
    for (int t = 0; t < threadCount; ++t) {
        if (workers[t].rousable) {
            workers[t].startEvent.rouse();
        }
    }
}

void Renderer::addLight(Light* light) {
    if (!light) {
        return;
    }
    LightEntry entry;
    entry.light = light;
    entry.shadowSlot = -1;
    if (light->castsShadow) {
        // The bins hold a fixed number of shadow-casting lights per frame; the
        // others still light the scene, without shadows.
        const int slots = int(shadowBins.size()) / threadCount; // as allocated
        if (shadowLightCount < std::min(shadowSlots, slots)) {
            entry.shadowSlot = shadowLightCount++;
        } else {
            ++unshadowedLights;
        }
    }
    lights.push_back(entry);
}

void Renderer::addInstance(MeshInstance* instance) {
    if (instance) {
        instances.push_back(instance);
    }
}

void Renderer::transformAll() {
    for (MeshInstance* instance : instances) {
        pipeline->transformInstance(*instance, viewMatrix, *viewport);
    }
    for (LightEntry& entry : lights) {
        pipeline->registerLight(entry, viewMatrix);
    }
}

bool Renderer::targetsUsable() {
    // Only whole 8 x 8 tiles are drawn: columns and rows beyond them are not needed.
    const int rows = (height >> 3) * 8;
    const int columns = (width >> 3) * 8;
    auto fits = [&](int w, int h) { return w >= columns && h >= rows; };
    bool ok = colorBuffer && depthBuffer && stencilBuffer && colorBuffer->width >= width &&
              colorBuffer->height >= rows &&
              fits(depthBuffer->tilesX * 8, depthBuffer->tilesY * 8) &&
              stencilBuffer->tilesX == depthBuffer->tilesX &&
              stencilBuffer->tilesY == depthBuffer->tilesY;
    if (!ok && !reportedTargets_) {
        logPrintf("TLR: render targets missing or smaller than %d x %d, frame skipped\n", width,
                    rows);
        reportedTargets_ = true;
    }
    return ok;
}

void Renderer::renderFrame() {
    pipeline->sortFaces();
    pipeline->projectVertices(*viewport);
    // Every worker would copy the same flag; one copy before they start is the same.
    pipeline->pixelLighting = pixelLighting;

    if (targetsUsable()) {
        int y = 0;
        for (int t = 0; t < threadCount; ++t) {
            WorkerState& w = workers[t];
            w.rowBegin = y;
            y += w.blockCount * 8;
            w.rowEnd = y;
            w.binsReadyEvent.reset();
        }
        // Last worker first: worker 0 shares the first processor with a main
        // thread pinned there, and once woken it may take that processor at
        // once, holding back the start of every worker not yet signalled.
        for (int t = threadCount - 1; t >= 0; --t) {
            workers[t].startEvent.set();
        }
        for (int t = 0; t < threadCount; ++t) {
            workers[t].doneEvent.wait();
        }

        // Statistics are raised once here rather than by every worker.
        pipeline->raiseStatistics();
        raiseShadowMarks();

        if (balancing) {
            int fastest = 0, slowest = 0;
            for (int t = 1; t < threadCount; ++t) {
                if (workers[t].lastTime < workers[fastest].lastTime) {
                    fastest = t;
                }
                if (workers[t].lastTime > workers[slowest].lastTime) {
                    slowest = t;
                }
            }
            if (workers[slowest].blockCount > 1) {
                ++workers[fastest].blockCount;
                --workers[slowest].blockCount;
            }
        }
    }
    clearColor = false;
    clearDepth = false;
}

void Renderer::raiseShadowMarks() {
    Pipeline::ShadowMarks& marks = pipeline->shadowMarks;
    shadowTriangles = 0;
    for (const LightEntry& entry : lights) {
        if (entry.shadowSlot < 0 || entry.lightIndex < 0) {
            continue;
        }
        for (int t = 0; t < threadCount; ++t) {
            size_t bin = size_t(entry.shadowSlot) * threadCount + t;
            shadowTriangles += shadowCounts[bin] / 3;
            marks.bins[bin] = std::max(marks.bins[bin], shadowCounts[bin]);
        }
    }
    marks.unshadowedLights = std::max(marks.unshadowedLights, unshadowedLights);
}

bool Renderer::setBlockCounts(const std::vector<int>& blockCounts) {
    if (int(blockCounts.size()) != threadCount) {
        return false;
    }
    int sum = 0;
    for (int c : blockCounts) {
        if (c < 0) {
            return false;
        }
        sum += c;
    }
    if (sum != (height >> 3)) {
        return false;
    }
    for (int t = 0; t < threadCount; ++t) {
        workers[t].blockCount = blockCounts[t];
    }
    return true;
}

RasterStats Renderer::frameStats() const {
    RasterStats sum;
    for (int t = 0; t < threadCount; ++t) {
        sum.triangles += workers[t].stats.triangles;
        sum.pixels += workers[t].stats.pixels;
    }
    return sum;
}

void Renderer::workerLoop(WorkerState* state) {
    WorkerState& w = *state;
    for (;;) {
        w.startEvent.wait();
        if (w.quit) {
            break;
        }
        auto start = std::chrono::steady_clock::now();
        const double cpuStart = sys::threadCpuSeconds();
        w.renderer->workerFrame(w);
        w.lastTime =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        w.lastCpuTime = sys::threadCpuSeconds() - cpuStart;
        w.doneEvent.set();
    }
}

void Renderer::workerFrame(WorkerState& w) {
    const int n = threadCount;
    const int i = w.index;
    w.stats = RasterStats{};

    // Shadow-volume phase: this worker builds its share of every caster's faces
    // into its own bin of each shadow slot.
    for (const LightEntry& entry : lights) {
        if (entry.shadowSlot < 0 || entry.shadowSlot >= shadowSlots) {
            continue;
        }
        const size_t bin = size_t(entry.shadowSlot) * n + i;
        int& count = shadowCounts[bin];
        count = 0;
        if (entry.lightIndex < 0) {
            continue; // the light table was full: the light is not drawn at all
        }
        for (const MeshInstance* instance : instances) {
            if (instance->castsShadow) {
                buildShadowVolumes(*instance, viewMatrix, *viewport, i, n, shadowBins[bin], count,
                                   entry.light->viewPos);
            }
        }
    }
    w.binsReadyEvent.set();

    if (clearColor) {
        clearColorRows(*colorBuffer, w.rowBegin, w.rowEnd);
    }
    if (clearDepth) {
        depthBuffer->clearRows(w.rowBegin, w.rowEnd);
    }
    shadeFaces(*pipeline, 1, w.rowBegin, w.rowEnd, *colorBuffer, *depthBuffer, stencilBuffer, -1,
               &w.stats, &w.colorCache);

    // Bins-ready barrier: nobody reads another worker's bins before they are built.
    for (int k = 0; k < n; ++k) {
        workers[k].binsReadyEvent.wait();
    }

    for (const LightEntry& entry : lights) {
        if (entry.lightIndex < 0) {
            continue;
        }
        const int slot = entry.shadowSlot;
        if (slot < 0 || slot >= shadowSlots) {
            shadeFaces(*pipeline, 2, w.rowBegin, w.rowEnd, *colorBuffer, *depthBuffer, nullptr,
                       entry.lightIndex, &w.stats, &w.colorCache);
            continue;
        }
        stencilBuffer->clearRows(w.rowBegin, w.rowEnd);
        for (int k = 0; k < n; ++k) {
            size_t bin = size_t(slot) * n + k;
            rasterizeShadowBin(shadowBins[bin].vertices.data(), shadowCounts[bin], w.rowBegin,
                               w.rowEnd, *stencilBuffer, *depthBuffer);
        }
        shadeFaces(*pipeline, 2, w.rowBegin, w.rowEnd, *colorBuffer, *depthBuffer, stencilBuffer,
                   entry.lightIndex, &w.stats, &w.colorCache);
    }

    if (showThreads) {
        markBands(*colorBuffer, w.rowBegin, w.rowEnd, i);
    }
    if (output) {
        resolveRows(*colorBuffer, *output, w.rowBegin, w.rowEnd, outputRowOffset, outputBias);
    }
}

} // namespace lumo
