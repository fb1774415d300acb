#pragma once
// The renderer front object. It owns one worker thread per processor of the
// process's affinity mask (worker t pinned to the t-th processor listed), the
// viewport, the pipeline and the shadow-volume bins, and holds pointers to the
// frame's lights, instances, target buffers and output canvas. At most
// kShadowSlots lights of a frame cast shadows; later shadow-casting lights are
// drawn without (and counted in unshadowedLights).
//
// Per frame, on the main thread: beginFrame; setViewMatrix and the option
// fields; addLight / addInstance; transformAll; renderFrame. renderFrame sorts
// and projects, hands each worker a band of whole 8-row blocks and waits for
// all of them. A worker, on its band: builds its share of the shadow volumes
// into its own bins (render/shadowvolume.h), sets its bins-ready event, clears
// colour and depth when asked, runs the ambient pass, waits for every worker's
// bins-ready event, runs one pass per light (counting the shadow bins into the
// stencil first for a shadowed light), marks its band when asked and resolves
// into the output.
//
// Synchronisation is by events only: the main thread writes all per-frame state
// before setting the start events and reads results after all done events;
// workers write only their own band's rows, bins, counts and timing. The
// picture does not depend on the band layout, which balancing moves by one
// block a frame from the slowest worker to the fastest.

#include "math/viewport.h"
#include "render/aligned.h"
#include "render/buffers.h"
#include "render/event.h"
#include "render/lighting.h"
#include "render/pipeline.h"
#include "render/raster.h"
#include "render/shading.h"
#include "render/shadowvolume.h"

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace lumo {

class Renderer;
class TextureStore;

struct WorkerState {
    Renderer* renderer = nullptr;
    std::thread thread;
    std::thread::id threadId;
    Event startEvent{Event::Reset::Auto};
    Event doneEvent{Event::Reset::Auto};
    Event binsReadyEvent{Event::Reset::Manual};
    int quit = 0;
    // On another processor than the pinned thread that drives the frames: such
    // a worker is roused at the start of a frame's preparation (see render/event.h).
    bool rousable = false;
    int index = 0;
    int threadCount = 0;
    int rowBegin = 0, rowEnd = 0;
    int blockCount = 0;
    double lastTime = 0.0;
    double lastCpuTime = 0.0; // processor seconds of the last frame (benchmarks)
    RasterStats stats;        // this worker's counts for its last frame
    VertexColorCache colorCache;
};

class Renderer {
public:
    static constexpr int kShadowSlots = 10;
    static constexpr int kShadowBinVertices = 10000;
    static constexpr int kMaxWorkers = 64;
    // How long a worker polls an event before it sleeps (see render/event.h).
    static constexpr std::chrono::microseconds kSpin{100};
    // How long a roused worker polls for its start: longer than the main
    // thread's transform, sort and projection of a busy frame.
    static constexpr std::chrono::microseconds kRousedSpin{2000};

    // threadCount 0: one worker per processor of the affinity mask. Counts are
    // capped at 64 workers.
    Renderer(int width, int height, TextureStore* textures, int threadCount = 0);
    ~Renderer(); // stops and joins the workers
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    void beginFrame();
    void setViewMatrix(const mat44& m) { viewMatrix = m; }
    void addLight(Light* light);
    void addInstance(MeshInstance* instance);
    void transformAll();
    void renderFrame();

    // Test and benchmark hooks: a fixed band layout (block counts summing to the
    // picture's blocks; returns false otherwise) and the sum of the workers'
    // counters for the last frame.
    bool setBlockCounts(const std::vector<int>& blockCounts);
    RasterStats frameStats() const;

    int width = 0, height = 0;
    std::unique_ptr<Viewport> viewport;
    mat44 viewMatrix = mat44::identity();
    bool clearColor = false;
    bool clearDepth = false;
    bool pixelLighting = false;
    bool showThreads = false;
    bool balancing = true; // move one block a frame towards equal working times
    std::vector<LightEntry> lights;
    std::vector<MeshInstance*> instances;
    ColorBuffer* colorBuffer = nullptr;
    StencilBuffer* stencilBuffer = nullptr;
    DepthBuffer* depthBuffer = nullptr;
    Canvas* output = nullptr;
    int outputRowOffset = 0;
    float outputBias = 0.0f;
    int threadCount = 0;
    int shadowLightCount = 0;
    int shadowSlots = kShadowSlots;
    // One bin per (slot s, worker i) at index s * threadCount + i, 10000 vertices
    // to start; a bin that fills up grows and keeps its size.
    std::vector<ShadowBin> shadowBins;
    std::vector<int> shadowCounts; // vertices in each bin this frame
    // Shadow-casting lights of this frame beyond the slots: drawn without shadows.
    int unshadowedLights = 0;
    int shadowTriangles = 0; // volume triangles of the last frame
    std::unique_ptr<Pipeline> pipeline;
    std::unique_ptr<WorkerState[]> workers;

private:
    static void workerLoop(WorkerState* state);
    void workerFrame(WorkerState& worker);
    bool targetsUsable();
    void raiseShadowMarks();
    bool reportedTargets_ = false;
};

} // namespace lumo
