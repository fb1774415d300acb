#pragma once
// The state behind the Renderer's face: the workers, the frame's lists and
// switches, the pipeline and the shadow-volume bins.
//
// Per pass, transformAll lays out the frame's geometry in one share per worker
// (render/internal/pipeline.h), and renderFrame hands each worker a band of
// whole 8-row blocks and waits for all of them. A worker first runs its share
// of the geometry's steps, each followed by a geometry event that every worker
// waits for: transform, faces, placing. Then worker 0 sorts and lists the faces
// for drawing (its draw-list event) while every worker builds its share of the
// shadow volumes into its own bins (render/internal/shadowvolume.h) and sets
// its bins-ready event. Then, a chunk of its band at a time (chunkRows), it
// clears colour and depth when asked, runs the ambient pass (once the draw list
// is ready), runs one pass per light (once every worker's bins are ready;
// counting the shadow bins into the stencil first for a shadowed light) and
// resolves into the output. With markers it marks and resolves the whole band
// after the last chunk.
//
// Between passes a blur is shared the same way: each worker filters its share
// of the rows, sets its rows-blurred event, waits for everybody's, then
// filters its share of the columns. A pass with a blur after it
// (renderFrameThenBlur) filters each chunk's rows as the chunk's last step,
// while the chunk is still in the cache, and the blur then does only the
// columns. A large overlay is composited a share of its rows each.
//
// Synchronisation is by events only: the calling thread writes all per-frame
// state before setting the start events and reads results after all done
// events; workers write only their own band's rows, bins, counts and timing.
//
// Band layouts: the passes of a frame differ in where their work lies (a lit
// scene, then a resolve-only pass of even rows), so one layout balanced on
// every pass would be pulled back and forth and suit none. Each pass of a
// frame keeps its own layout, chosen by its place in the frame: a pass that
// clears colour or depth starts a frame. After a pass, balanceBands may move
// blocks of that pass's layout; the picture does not depend on the layout.
// At most kShadowSlots lights of a frame cast shadows; later shadow-casting
// lights are drawn without.

#include "math/viewport.h"
#include "render/internal/event.h"
#include "render/internal/finalpass.h"
#include "render/internal/pipeline.h"
#include "render/internal/raster.h"
#include "render/internal/shading.h"
#include "render/internal/shadowvolume.h"
#include "render/renderer.h"

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace lumo {

// Band layouts kept: one per pass of a frame, later passes share the last.
constexpr int kPassLayouts = 4;
// The geometry's steps that every worker waits for: transform, faces, placing.
constexpr int kGeometrySteps = 3;

// One balancing step over the workers' last times and band heights (blocks):
// with each worker's time per block estimated from its last time and block
// count, moves half the blocks that would even out the slowest and the fastest
// worker when that is at least two, else a single block when that narrows the
// gap between the two. A slowest band keeps at least one block. Not moving when the predicted gap
// is no smaller is what stops the layout from swinging between two neighbours when no layout is
// even. Returns whether blocks moved.
bool balanceBands(const double* seconds, int* blocks, int count);

// Whole 8-row blocks of rows `width` pixels wide whose colour, depth and
// stencil (21 bytes a pixel) take about 2 MiB: a second-level cache or a share
// of the third. At 1920 x 1080 that is 48 rows; smaller chunks spend more on
// setting up the faces that cross them, much larger ones miss the cache.
int cacheChunkRows(int width);

struct WorkerState {
    Renderer::State* frame = nullptr;
    std::thread thread;
    Event startEvent{Event::Reset::Auto};
    Event doneEvent{Event::Reset::Auto};
    Event binsReadyEvent{Event::Reset::Manual};
    Event rowsBlurredEvent{Event::Reset::Manual};
    std::array<Event, kGeometrySteps> geometryEvents{
        Event{Event::Reset::Manual}, Event{Event::Reset::Manual}, Event{Event::Reset::Manual}};
    Event drawListEvent{Event::Reset::Manual};
    bool quit = false;
    // On another processor than the pinned thread that drives the frames: such
    // a worker is roused at the start of a frame's preparation (see event.h).
    bool rousable = false;
    int index = 0;
    int rowBegin = 0, rowEnd = 0;
    int blockCount = 0; // this pass's band, in 8-row blocks
    // The band of each pass layout (see balanceBands).
    std::array<int, kPassLayouts> layoutBlocks{};
    double lastTime = 0.0;
    double lastCpuTime = 0.0; // processor seconds of the last frame
    RasterStats stats;        // this worker's counts for its last frame
    VertexColorCache colorCache;
};

struct Renderer::State {
    // How long a worker polls an event before it sleeps (see event.h).
    static constexpr std::chrono::microseconds kSpin{100};
    // How long a roused worker polls for its start: longer than the calling
    // thread's transform, sort and projection of a busy frame.
    static constexpr std::chrono::microseconds kRousedSpin{2000};

    State(const RenderTargets& targets, const TextureStore* textures, int threadCount);
    ~State();

    void renderFrame();
    void workerFrame(WorkerState& worker);
    void workerGeometry(WorkerState& worker);
    // A blur between passes, its rows and then its columns shared by the workers.
    void blur(int radius);
    void workerBlur(WorkerState& worker);
    // The pass with a blur after it: the rows of each worker's band are
    // filtered as the band is drawn, then blur() does only the columns.
    void renderFrameThenBlur(int radius);
    void blurColumnsOnly(int radius);
    // Starts the workers on the blur job of a prepared scratch and waits for them.
    void runBlur(int radius);
    bool targetsUsable();
    void raiseShadowMarks();

    Extent picture() const { return {width, height}; }

    int width = 0, height = 0; // the picture's
    int blocks = 0;            // the picture's tile rows that the bands cover
    RenderTargets targets;
    std::unique_ptr<Viewport> viewport;
    mat44 viewMatrix = mat44::identity();
    bool clearColor = false;
    bool clearDepth = false;
    bool pixelLighting = false;
    bool showThreads = false;
    int markerRows = 1;
    // How many rows of its band a worker draws at a time (cacheChunkRows).
    int chunkRows = 8;
    bool balancing = true;
    int passLayout = 0; // the layout of the pass being drawn
    // transformAll left the geometry to the workers' shares.
    bool geometryShared = false;
    // Whether workers (and the caller) poll before they sleep; read by the
    // workers at the top of each frame, so atomic.
    std::atomic<bool> polling{true};
    std::vector<LightEntry> lights;
    std::vector<MeshInstance*> instances;
    Canvas* output = nullptr;
    int outputLeft = 0, outputTop = 0;
    float outputBias = 0.0f;
    int threadCount = 0;
    int shadowLightCount = 0;
    // One bin per (slot s, worker i) at index s * threadCount + i,
    // kShadowBinVertices to start; a bin that fills up grows and keeps its size.
    std::vector<ShadowBin> shadowBins;
    std::vector<int> shadowCounts; // vertices in each bin this frame
    // Shadow-casting lights of this frame beyond the slots: drawn without shadows.
    int unshadowedLights = 0;
    int shadowTriangles = 0;      // volume triangles of the last frame
    std::vector<int> shadowMarks; // the most vertices each bin held in one frame
    int maxUnshadowedLights = 0;
    std::unique_ptr<Pipeline> pipeline;
    std::unique_ptr<WorkerState[]> workers;
    bool reportedTargets = false;
    BlurScratch blurScratch; // kept, so a blur between passes allocates nothing
    // What the workers do when started: a pass, the blur of blurRadius, or
    // the composite of overlay.
    enum class Job { Pass, Blur, Overlay };
    Job job = Job::Pass;
    int blurRadius = 0;
    // The pass being drawn filters the rows of this radius once drawn (0: none).
    int passBlurRadius = 0;
    // The blur job finds the rows filtered already.
    bool rowsBlurred = false;
    struct Overlay {
        const TextureImage* image = nullptr;
        int x = 0, y = 0;
        float fade = 0.0f;
    } overlay;
    // The overlays the pass being drawn blends before it resolves.
    std::vector<Overlay> passOverlays;
    void blendPassOverlays(int rowBegin, int rowEnd);
    // An overlay covering at least this many pixels is shared by the workers:
    // the end texts from 1280 x 720 up, not at 640 x 360, where waking the
    // workers would cost more than it saves.
    static constexpr int64_t kSharedOverlayPixels = 1 << 17;
    void compositeOverlay(const TextureImage& image, int x, int y, float fade);
    void workerOverlay(WorkerState& worker);
};

} // namespace lumo
