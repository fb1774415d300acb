#include "render/renderer.h"

#include "assets/texture.h"
#include "render/internal/finalpass.h"
#include "render/internal/frame.h"
#include "render/internal/shadowbin.h"
#include "sys/log.h"
#include "sys/threads.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <system_error>

namespace lumo {

namespace {

void workerLoop(WorkerState* state) {
    WorkerState& w = *state;
    for (;;) {
        w.startEvent.wait(w.frame->polling.load(std::memory_order_relaxed));
        if (w.quit) {
            break;
        }
        // Blurs and overlays are not timed: the bands are balanced on the
        // passes' times only.
        if (w.frame->job == Renderer::State::Job::Blur) {
            w.frame->workerBlur(w);
            w.doneEvent.set();
            continue;
        }
        if (w.frame->job == Renderer::State::Job::Overlay) {
            w.frame->workerOverlay(w);
            w.doneEvent.set();
            continue;
        }
        auto start = std::chrono::steady_clock::now();
        const double cpuStart = sys::threadCpuSeconds();
        w.frame->workerFrame(w);
        w.lastTime =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        w.lastCpuTime = sys::threadCpuSeconds() - cpuStart;
        w.doneEvent.set();
    }
}

} // namespace

int cacheChunkRows(int width) {
    constexpr long kChunkBytes = 2L << 20;
    const long rowBytes = 21L * std::max(width, 1);
    return std::max(8, int(kChunkBytes / rowBytes) & ~7);
}

bool balanceBands(const double* seconds, int* blocks, int count) {
    int fastest = 0, slowest = 0;
    for (int t = 1; t < count; ++t) {
        if (seconds[t] < seconds[fastest]) {
            fastest = t;
        }
        if (seconds[t] > seconds[slowest]) {
            slowest = t;
        }
    }
    if (blocks[slowest] <= 1) {
        return false;
    }
    const double gap = seconds[slowest] - seconds[fastest];
    if (!(gap > 0.0 && gap < 1e9)) {
        return false;
    }
    const double slowPerBlock = seconds[slowest] / blocks[slowest];
    // An empty band has no time of its own per block: it would take the
    // slowest band's.
    const double fastPerBlock =
        blocks[fastest] > 0 ? seconds[fastest] / blocks[fastest] : slowPerBlock;
    // Far from even, half the blocks that would even the two out by the
    // estimate: large pictures have many blocks, and one block a pass took
    // dozens of frames to follow a change of scene. Half, because a band's
    // blocks are not equally costly. Near even, one block at a time, and only
    // when that narrows the predicted gap.
    const double even = gap / (slowPerBlock + fastPerBlock);
    int move = even >= 4.0 ? std::min(int(std::min(even / 2.0, 1e6)), blocks[slowest] - 1) : 0;
    if (move < 1) {
        if (!(std::abs(gap - slowPerBlock - fastPerBlock) < gap)) {
            return false;
        }
        move = 1;
    }
    blocks[slowest] -= move;
    blocks[fastest] += move;
    return true;
}

namespace {

Extent pictureSize(const RenderTargets& targets) {
    if (targets.width > 0 && targets.height > 0) {
        return {targets.width, targets.height};
    }
    return targets.color ? wholeBuffer(*targets.color) : Extent{};
}

// The picture's tile rows, as far as every buffer holds them.
int pictureBlocks(const RenderTargets& targets, int height) {
    int blocks = wholeTiles(height) >> 3;
    if (targets.color) {
        blocks = std::min(blocks, targets.color->height >> 3);
    }
    if (targets.depth) {
        blocks = std::min(blocks, targets.depth->tilesY);
    }
    if (targets.stencil) {
        blocks = std::min(blocks, targets.stencil->tilesY);
    }
    return std::max(blocks, 0);
}

} // namespace

Renderer::State::State(const RenderTargets& targets_, const TextureStore* textures, int threads)
    : width(pictureSize(targets_).width), height(pictureSize(targets_).height),
      blocks(pictureBlocks(targets_, height)), targets(targets_) {
    lights.reserve(64);
    instances.reserve(1024);
    passOverlays.reserve(8);
    chunkRows = cacheChunkRows(targets_.color ? targets_.color->width : width);

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
        w.frame = this;
        w.index = t;
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
        for (Event& e : w.geometryEvents) {
            e.setSpin(kSpin);
        }
        w.drawListEvent.setSpin(kSpin);
        w.rowsBlurredEvent.setSpin(kSpin);
        try {
            w.thread = std::thread(workerLoop, &w);
        } catch (const std::system_error&) {
            // Fewer workers still draw every band; with none there is no renderer.
            if (t == 0) {
                throw;
            }
            logPrintf("TLR: could not start worker %d, running with %d\n", t, t);
            break;
        }
        ++started;
        // Pinning outside the mask would silently succeed, so pin to the t-th
        // processor that the mask lists (repeating when there are more workers).
        sys::pinThread(w.thread, processor);
    }
    threadCount = started;
    shadowBins.reserve(size_t(threadCount) * kShadowSlots);
    for (int b = 0; b < threadCount * kShadowSlots; ++b) {
        shadowBins.emplace_back(kShadowBinVertices);
    }
    shadowCounts.assign(shadowBins.size(), 0);
    shadowMarks.assign(shadowBins.size(), 0);
    const int share = blocks / threadCount;
    for (int t = 0; t < threadCount; ++t) {
        workers[t].blockCount = share;
    }
    logPrintf("TLR: threads setup.\n");
    workers[threadCount - 1].blockCount += blocks - share * threadCount;
    logPrintf("TLR: last chunk fixed.\n");
    for (int t = 0; t < threadCount; ++t) {
        workers[t].layoutBlocks.fill(workers[t].blockCount);
    }

    viewport = std::make_unique<Viewport>(width, height, float(width) / float(std::max(height, 1)));
    logPrintf("TLR: viewport created\n");
    pipeline = std::make_unique<Pipeline>(textures);
    logPrintf("TLR: pipeline created\n");
    logPrintf("TLR: my width(%d), and height(%d)\n", width, height);
}

Renderer::State::~State() {
    for (int t = 0; t < threadCount; ++t) {
        workers[t].quit = true;
        workers[t].startEvent.set();
    }
    for (int t = 0; t < threadCount; ++t) {
        if (workers[t].thread.joinable()) {
            workers[t].thread.join();
        }
    }
}

Renderer::Renderer(const RenderTargets& targets, const TextureStore* textures, int threadCount)
    : state_(std::make_unique<State>(targets, textures, threadCount)) {}

Renderer::~Renderer() = default;

int Renderer::width() const {
    return state_->width;
}
int Renderer::height() const {
    return state_->height;
}
int Renderer::threadCount() const {
    return state_->threadCount;
}

void Renderer::setViewMatrix(const mat44& view) {
    state_->viewMatrix = view;
}
void Renderer::setClear(bool color, bool depth) {
    state_->clearColor = color;
    state_->clearDepth = depth;
}
void Renderer::setClearDepth(bool depth) {
    state_->clearDepth = depth;
}
void Renderer::setPixelLighting(bool on) {
    state_->pixelLighting = on;
}
void Renderer::setAmbient(float ambient) {
    state_->pipeline->ambient = ambient;
}
void Renderer::setShowThreads(bool show, int thickness) {
    state_->showThreads = show;
    state_->markerRows = std::max(1, thickness);
}
void Renderer::setOutput(Canvas* canvas, int left, int top) {
    state_->output = canvas;
    state_->outputLeft = left;
    state_->outputTop = top;
}
void Renderer::setOutputBias(float bias) {
    state_->outputBias = bias;
}
void Renderer::setBalancing(bool on) {
    state_->balancing = on;
}
void Renderer::setPolling(bool on) {
    state_->polling.store(on, std::memory_order_relaxed);
}

void Renderer::beginFrame() {
    State& s = *state_;
    s.lights.clear();
    s.instances.clear();
    s.shadowLightCount = 0;
    s.unshadowedLights = 0;
    s.pixelLighting = false;
    s.pipeline->resetFrame();
    // The workers start once the frame is transformed; a sleeping worker takes
    // long to wake on some machines, so it wakes now, while this thread works
    // (unless the caller has time to spare and asked for no polling).
    const bool polling = s.polling.load(std::memory_order_relaxed);
    for (int t = 0; t < s.threadCount; ++t) {
        if (s.workers[t].rousable && polling) {
            s.workers[t].startEvent.rouse();
        }
    }
}

void Renderer::addLight(Light* light) {
    State& s = *state_;
    if (!light) {
        return;
    }
    LightEntry entry;
    entry.light = light;
    entry.shadowSlot = -1;
    if (light->castsShadow) {
        // The bins hold a fixed number of shadow-casting lights per frame; the
        // others still light the scene, without shadows.
        const int slots = int(s.shadowBins.size()) / s.threadCount; // as allocated
        if (s.shadowLightCount < std::min(kShadowSlots, slots)) {
            entry.shadowSlot = s.shadowLightCount++;
        } else {
            ++s.unshadowedLights;
        }
    }
    s.lights.push_back(entry);
}

void Renderer::addInstance(MeshInstance* instance) {
    if (instance) {
        state_->instances.push_back(instance);
    }
}

void Renderer::transformAll() {
    State& s = *state_;
    s.geometryShared =
        s.pipeline->planShares(s.instances, s.viewMatrix, *s.viewport, s.threadCount);
    if (!s.geometryShared) {
        // Too much for the pools: one instance after another decides what is dropped.
        for (MeshInstance* instance : s.instances) {
            s.pipeline->transformInstance(*instance, s.viewMatrix, *s.viewport);
        }
    }
    for (LightEntry& entry : s.lights) {
        s.pipeline->registerLight(entry, s.viewMatrix);
    }
}

void Renderer::renderFrame() {
    state_->renderFrame();
}

void Renderer::blur(int radius) {
    state_->blur(radius);
}

void Renderer::renderFrameThenBlur(int radius) {
    state_->renderFrameThenBlur(radius);
}

void Renderer::State::renderFrameThenBlur(int radius) {
    // The markers go over the finished band, and the rows must be filtered
    // with them: that pass blurs afterwards, as a separate blur would.
    const bool fused = radius >= 1 && !showThreads && targets.color && targetsUsable() &&
                       blurPrepare(*targets.color, picture(), radius, blurScratch, threadCount);
    passBlurRadius = fused ? radius : 0;
    renderFrame();
    passBlurRadius = 0;
    if (fused) {
        blurColumnsOnly(radius);
    } else {
        blur(radius);
    }
}

void Renderer::State::blurColumnsOnly(int radius) {
    // Rows below the last whole tile row belong to no band, yet are blurred.
    blurRows(*targets.color, picture(), radius, blurScratch, 0, blocks * 8, height);
    if (threadCount == 1) {
        blurColumns(*targets.color, picture(), radius, blurScratch, 0, 0, width);
        return;
    }
    rowsBlurred = true;
    runBlur(radius);
    rowsBlurred = false;
}

void Renderer::State::blur(int radius) {
    ColorBuffer* color = targets.color;
    if (!color) {
        return;
    }
    if (threadCount == 1) {
        blurColorBuffer(*color, picture(), radius, blurScratch);
        return;
    }
    if (!blurPrepare(*color, picture(), radius, blurScratch, threadCount)) {
        return;
    }
    runBlur(radius);
}

void Renderer::State::runBlur(int radius) {
    job = Job::Blur;
    blurRadius = radius;
    for (int t = 0; t < threadCount; ++t) {
        workers[t].rowsBlurredEvent.reset();
    }
    for (int t = threadCount - 1; t >= 0; --t) {
        workers[t].startEvent.set();
    }
    for (int t = 0; t < threadCount; ++t) {
        workers[t].doneEvent.wait(polling.load(std::memory_order_relaxed));
    }
    job = Job::Pass;
}

void Renderer::State::workerBlur(WorkerState& w) {
    ColorBuffer& color = *targets.color;
    const int n = threadCount, i = w.index;
    const Extent p = picture();
    if (!rowsBlurred) {
        blurRows(color, p, blurRadius, blurScratch, i, p.height * i / n, p.height * (i + 1) / n);
    }
    w.rowsBlurredEvent.set();
    for (int k = 0; k < n; ++k) {
        workers[k].rowsBlurredEvent.wait();
    }
    // Whole groups of four columns to each worker: they go down side by side.
    const int groups = (p.width + 3) / 4;
    const int begin = std::min(p.width, 4 * (groups * i / n));
    const int end = std::min(p.width, 4 * (groups * (i + 1) / n));
    blurColumns(color, p, blurRadius, blurScratch, i, begin, end);
}

void Renderer::compositeOverlay(const TextureImage& image, int x, int y, float fade) {
    state_->compositeOverlay(image, x, y, fade);
}

void Renderer::overlayBeforeResolve(const TextureImage& image, int x, int y, float fade) {
    state_->passOverlays.push_back({&image, x, y, fade});
}

void Renderer::State::blendPassOverlays(int rowBegin, int rowEnd) {
    for (const Overlay& o : passOverlays) {
        compositeOverlayRows(*targets.color, picture(), *o.image, o.x, o.y, o.fade, rowBegin,
                             rowEnd);
    }
}

void Renderer::State::compositeOverlay(const TextureImage& image, int x, int y, float fade) {
    ColorBuffer* color = targets.color;
    if (!color) {
        return;
    }
    const RowSpan rows = overlayRows(picture(), image, y);
    if (threadCount == 1 || int64_t(rows.end - rows.begin) * image.width < kSharedOverlayPixels) {
        lumo::compositeOverlay(*color, picture(), image, x, y, fade);
        return;
    }
    job = Job::Overlay;
    overlay = {&image, x, y, fade};
    for (int t = threadCount - 1; t >= 0; --t) {
        workers[t].startEvent.set();
    }
    for (int t = 0; t < threadCount; ++t) {
        workers[t].doneEvent.wait(polling.load(std::memory_order_relaxed));
    }
    job = Job::Pass;
    overlay = {};
}

void Renderer::State::workerOverlay(WorkerState& w) {
    const int n = threadCount, i = w.index;
    const RowSpan rows = overlayRows(picture(), *overlay.image, overlay.y);
    const int64_t span = rows.end - rows.begin;
    compositeOverlayRows(*targets.color, picture(), *overlay.image, overlay.x, overlay.y,
                         overlay.fade, rows.begin + int(span * i / n),
                         rows.begin + int(span * (i + 1) / n));
}

FrameStats Renderer::statistics() const {
    const State& s = *state_;
    const Pipeline& p = *s.pipeline;
    FrameStats f;
    f.faces = p.faceCount;
    f.shadowTriangles = s.shadowTriangles;
    f.workers = s.threadCount;
    for (int t = 0; t < s.threadCount; ++t) {
        const WorkerState& w = s.workers[t];
        f.rasterTriangles += w.stats.triangles;
        f.rasterPixels += w.stats.pixels;
        f.worker[size_t(t)] = {w.lastTime, w.lastCpuTime, w.blockCount};
    }
    f.vertices = {p.maxVertices, p.vertexCapacity};
    f.faceRecords = {p.maxFaces, p.faceCapacity};
    f.texcoords = {p.maxTexcoords, p.texcoordCapacity};
    f.normals = {p.maxNormals, p.normalCapacity};
    f.dropped = {p.maxDropped.meshes, p.maxDropped.faces, p.maxDropped.lights};
    f.shadowBinStart = kShadowBinVertices;
    std::copy(s.shadowMarks.begin(), s.shadowMarks.end(), f.shadowBins.begin());
    f.unshadowedLights = s.maxUnshadowedLights;
    return f;
}

bool Renderer::setBlockCounts(const std::vector<int>& blockCounts) {
    State& s = *state_;
    if (int(blockCounts.size()) != s.threadCount) {
        return false;
    }
    int sum = 0;
    for (int c : blockCounts) {
        if (c < 0) {
            return false;
        }
        sum += c;
    }
    if (sum != s.blocks) {
        return false;
    }
    for (int t = 0; t < s.threadCount; ++t) {
        s.workers[t].blockCount = blockCounts[t];
        s.workers[t].layoutBlocks.fill(blockCounts[t]);
    }
    return true;
}

int Renderer::blockCount() const {
    return state_->blocks;
}

bool Renderer::State::targetsUsable() {
    // Only whole 8 x 8 tiles are drawn: columns and rows beyond them are not needed.
    const int rows = blocks * 8;
    const int columns = (width >> 3) * 8;
    auto fits = [&](int w, int h) { return w >= columns && h >= rows; };
    const ColorBuffer* color = targets.color;
    const DepthBuffer* depth = targets.depth;
    const StencilBuffer* stencil = targets.stencil;
    bool ok = color && depth && stencil && color->width >= width && color->height >= rows &&
              fits(depth->tilesX * 8, depth->tilesY * 8) && stencil->tilesX == depth->tilesX &&
              stencil->tilesY == depth->tilesY;
    if (!ok && !reportedTargets) {
        logPrintf("TLR: render targets missing or smaller than %d x %d, frame skipped\n", width,
                  rows);
        reportedTargets = true;
    }
    return ok;
}

void Renderer::State::renderFrame() {
    // Every worker would copy the same flag; one copy before they start is the same.
    pipeline->pixelLighting = pixelLighting;

    passLayout = clearColor || clearDepth ? 0 : std::min(passLayout + 1, kPassLayouts - 1);

    if (targetsUsable()) {
        int y = 0;
        for (int t = 0; t < threadCount; ++t) {
            WorkerState& w = workers[t];
            w.blockCount = w.layoutBlocks[size_t(passLayout)];
            w.rowBegin = y;
            y += w.blockCount * 8;
            w.rowEnd = y;
            w.binsReadyEvent.reset();
            for (Event& e : w.geometryEvents) {
                e.reset();
            }
            w.drawListEvent.reset();
        }
        // Last worker first: worker 0 shares the first processor with a main
        // thread pinned there, and once woken it may take that processor at
        // once, holding back the start of every worker not yet signalled.
        for (int t = threadCount - 1; t >= 0; --t) {
            workers[t].startEvent.set();
        }
        for (int t = 0; t < threadCount; ++t) {
            workers[t].doneEvent.wait(polling.load(std::memory_order_relaxed));
        }

        // Rows below the last whole tile row belong to no band, and are
        // never drawn or resolved, but their colours take the overlays.
        blendPassOverlays(blocks * 8, height);

        // Statistics are raised once here rather than by every worker.
        pipeline->raiseStatistics();
        raiseShadowMarks();

        if (balancing) {
            // Processor time, not the clock: on a shared machine the clock
            // also counts the other programs' turns on a worker's processor,
            // which come and go from frame to frame, and a layout that chased
            // them would wander off the work's own balance.
            std::array<double, kMaxWorkers> seconds;
            std::array<int, kMaxWorkers> blocks;
            for (int t = 0; t < threadCount; ++t) {
                seconds[size_t(t)] = workers[t].lastCpuTime;
                blocks[size_t(t)] = workers[t].blockCount;
            }
            if (balanceBands(seconds.data(), blocks.data(), threadCount)) {
                for (int t = 0; t < threadCount; ++t) {
                    workers[t].layoutBlocks[size_t(passLayout)] = blocks[size_t(t)];
                }
            }
        }
    } else {
        // Nothing is drawn, but the pools and the statistics still see the frame.
        if (geometryShared) {
            pipeline->runShares();
        }
        pipeline->finishGeometry();
        if (targets.color) {
            blendPassOverlays(0, height);
        }
    }
    passOverlays.clear();
    geometryShared = false;
    clearColor = false;
    clearDepth = false;
}

void Renderer::State::raiseShadowMarks() {
    shadowTriangles = 0;
    for (const LightEntry& entry : lights) {
        if (entry.shadowSlot < 0 || entry.lightIndex < 0) {
            continue;
        }
        for (int t = 0; t < threadCount; ++t) {
            size_t bin = size_t(entry.shadowSlot) * threadCount + t;
            shadowTriangles += shadowCounts[bin] / 3;
            shadowMarks[bin] = std::max(shadowMarks[bin], shadowCounts[bin]);
        }
    }
    maxUnshadowedLights = std::max(maxUnshadowedLights, unshadowedLights);
}

void Renderer::State::workerGeometry(WorkerState& w) {
    Pipeline& p = *pipeline;
    const int i = w.index;
    auto stepDone = [&](int step) {
        w.geometryEvents[size_t(step)].set();
        for (int k = 0; k < threadCount; ++k) {
            workers[k].geometryEvents[size_t(step)].wait();
        }
    };
    p.transformShare(i);
    stepDone(0);
    p.faceShare(i);
    stepDone(1);
    // Every worker comes to the same answer from the same counts.
    if (p.sharesFit()) {
        p.placeShare(i);
    } else if (i == 0) {
        p.redoOneByOne();
    }
    stepDone(2);
}

void Renderer::State::workerFrame(WorkerState& w) {
    const int n = threadCount;
    const int i = w.index;
    w.stats = RasterStats{};

    if (geometryShared) {
        workerGeometry(w);
    }
    if (i == 0) {
        // Sorting and listing are short: one worker does them while the
        // others start on the shadow volumes.
        pipeline->finishGeometry();
        w.drawListEvent.set();
    }

    // Shadow-volume phase: this worker builds its share of every caster's faces
    // into its own bin of each shadow slot.
    for (const LightEntry& entry : lights) {
        if (entry.shadowSlot < 0 || entry.shadowSlot >= kShadowSlots) {
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

    // The band is drawn a few tile rows at a time: every pass over those rows
    // (the clears, the ambient pass, each light's stencil and light pass, the
    // resolve) runs while their colour, depth and stencil are still in this
    // processor's cache, where pass after pass over the whole band would
    // stream it through memory each time. Each pixel still sees the same
    // operations in the same order, so the picture does not change.
    const int step = chunkRows;
    for (int begin = w.rowBegin; begin < w.rowEnd; begin += step) {
        const int end = std::min(w.rowEnd, begin + step);
        const bool first = begin == w.rowBegin;
        if (clearColor) {
            clearColorRows(*targets.color, begin, end);
        }
        if (clearDepth) {
            targets.depth->clearRows(begin, end);
        }
        if (first) {
            workers[0].drawListEvent.wait();
        }
        shadeFaces(*pipeline, Pass::Ambient, begin, end, *targets.color, *targets.depth,
                   targets.stencil, -1, &w.stats, &w.colorCache);

        if (first) {
            // Bins-ready barrier: nobody reads another worker's bins before
            // they are built.
            for (int k = 0; k < n; ++k) {
                workers[k].binsReadyEvent.wait();
            }
        }

        for (const LightEntry& entry : lights) {
            if (entry.lightIndex < 0) {
                continue;
            }
            const int slot = entry.shadowSlot;
            if (slot < 0 || slot >= kShadowSlots) {
                shadeFaces(*pipeline, Pass::Light, begin, end, *targets.color, *targets.depth,
                           nullptr, entry.lightIndex, &w.stats, &w.colorCache);
                continue;
            }
            targets.stencil->clearRows(begin, end);
            for (int k = 0; k < n; ++k) {
                size_t bin = size_t(slot) * n + k;
                rasterizeShadowBin(shadowBins[bin].vertices.data(), shadowCounts[bin], begin, end,
                                   *targets.stencil, *targets.depth);
            }
            shadeFaces(*pipeline, Pass::Light, begin, end, *targets.color, *targets.depth,
                       targets.stencil, entry.lightIndex, &w.stats, &w.colorCache);
        }
        if (!showThreads) {
            blendPassOverlays(begin, end);
            if (output) {
                resolveRows(*targets.color, picture(), *output, outputLeft, outputTop, begin, end,
                            outputBias);
            }
        }
        if (passBlurRadius > 0) {
            blurRows(*targets.color, picture(), passBlurRadius, blurScratch, i, begin, end);
        }
    }

    // The markers go over whatever the passes drew, so the band is resolved
    // after them.
    if (showThreads) {
        markBands(*targets.color, picture(), w.rowBegin, w.rowEnd, i, markerRows);
        blendPassOverlays(w.rowBegin, w.rowEnd);
        if (output) {
            resolveRows(*targets.color, picture(), *output, outputLeft, outputTop, w.rowBegin,
                        w.rowEnd, outputBias);
        }
    }
}

} // namespace lumo
