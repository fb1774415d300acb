#pragma once
// The renderer's face. A Renderer draws frames of lit, textured, shadowed
// triangles into render targets its caller owns (render/buffers.h), on one
// worker thread per processor of the process's affinity mask, each owning a
// horizontal band of whole 8-row blocks. Everything behind this header (the
// geometry pipeline, the tile rasterizer, shading, shadow volumes, the final
// pass, the workers' events) is private to render/internal/.
//
// A frame is one or more passes. Per pass, on the calling thread:
//
//     beginFrame();  setViewMatrix(...);  set... options;
//     addLight(...) / addInstance(...);   // values that live until renderFrame returns
//     transformAll();                     // lays the geometry out in shares
//     renderFrame();                      // the workers transform, cull, clip,
//                                         // sort, project and draw
//
// Between passes the caller may blur the colour target or blend overlay
// images into it. statistics() tells what the last pass drew and the high-water
// marks of every fixed pool since start.
//
// The picture does not depend on the number of workers or on how the bands are
// laid out: any worker count gives the same bytes.

#include "math/vec.h"
#include "render/buffers.h"
#include "render/scene.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace lumo {

class TextureStore;
struct TextureImage;

// The caller's buffers, which must outlive the renderer. The picture is the
// colour buffer's top-left width x height pixels (0: the colour buffer's size).
// The bands cover the picture's 8 x 8 tiles as far as all three buffers hold
// them: buffers padded to whole tiles (wholeTiles) draw every row and column of
// any size, while rows and columns beyond an unpadded buffer's last whole tile
// are not drawn.
struct RenderTargets {
    ColorBuffer* color = nullptr;
    DepthBuffer* depth = nullptr;
    StencilBuffer* stencil = nullptr;
    int width = 0, height = 0;
};

// What the last pass drew, and the most every fixed pool held since start.
struct FrameStats {
    static constexpr int kMaxWorkers = 64;
    static constexpr int kShadowSlots = 10;

    // The last pass.
    int faces = 0;                                  // faces drawn after culling and clipping
    int shadowTriangles = 0;                        // shadow-volume triangles
    uint64_t rasterTriangles = 0, rasterPixels = 0; // summed over the workers
    int workers = 0;
    struct Worker {
        double seconds = 0.0, cpuSeconds = 0.0; // its share of the pass
        int blocks = 0;                         // its band, in 8-row blocks
    };
    std::array<Worker, kMaxWorkers> worker{};

    // Since start: the fullest each pool has been, and what did not fit.
    struct Pool {
        int mark = 0, capacity = 0;
    };
    Pool vertices, faceRecords, texcoords, normals;
    struct Dropped {
        int meshes = 0, faces = 0, lights = 0;
    };
    Dropped dropped; // the most in one frame
    // Shadow-volume bins: the most vertices each bin (slot * workers + worker)
    // held in one frame; bins start at shadowBinStart vertices and grow when full.
    int shadowBinStart = 0;
    std::array<int, kShadowSlots * kMaxWorkers> shadowBins{};
    // The most shadow-casting lights of one frame drawn without shadows
    // because every shadow slot was taken.
    int unshadowedLights = 0;
};

class Renderer {
public:
    static constexpr int kShadowSlots = FrameStats::kShadowSlots;
    static constexpr int kShadowBinVertices = 10000;
    static constexpr int kMaxWorkers = FrameStats::kMaxWorkers;

    // threadCount 0: one worker per processor of the affinity mask; counts are
    // capped at kMaxWorkers. Prints its set-up lines.
    Renderer(const RenderTargets& targets, const TextureStore* textures, int threadCount = 0);
    ~Renderer(); // stops and joins the workers
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    int width() const;
    int height() const;
    int threadCount() const;

    void beginFrame(); // also turns per-pixel lighting off again
    void setViewMatrix(const mat44& view);
    // Cleared before the ambient pass; both switch off again after renderFrame.
    void setClear(bool color, bool depth);
    void setClearDepth(bool depth);
    void setPixelLighting(bool on);
    void setAmbient(float ambient);
    // Magenta markers `thickness` rows thick at the workers' band borders.
    void setShowThreads(bool show, int thickness = 1);
    // Where each worker resolves its band of the picture at the end of the pass
    // (null: nowhere), its top-left corner at canvas pixel (left, top), with the
    // exposure bias added to every channel. What falls outside the canvas is cut.
    void setOutput(Canvas* canvas, int left, int top);
    void setOutputBias(float bias);
    // On (the default), after each pass blocks may move from the slowest
    // worker's band to the fastest's, when that narrows the gap between their
    // processor times: far from even, half of what would even them out; near
    // even, a single block. Each pass of a frame keeps its own band layout; a
    // pass that clears colour or depth starts a frame.
    void setBalancing(bool on);
    // On (the default), the workers poll briefly for their next frame and are
    // roused while a frame is prepared: frames drawn back to back start sooner.
    // Off, they sleep at once: for a loop that leaves most of each display
    // interval idle, where polling would only burn the processor.
    void setPolling(bool on);

    void addLight(Light* light);
    void addInstance(MeshInstance* instance);
    void transformAll();
    void renderFrame();

    // Between passes: the tent blur of the picture (radius < 1 does nothing),
    // shared by the workers, and a premultiplied image blended at (x, y) with
    // opacity fade, cut at the picture's edges: by the workers when it is
    // large, else on the calling thread.
    void blur(int radius);
    // renderFrame(), then blur(radius): the same picture, sooner, as each
    // worker filters the rows of its band while they are still in its cache.
    void renderFrameThenBlur(int radius);
    void compositeOverlay(const TextureImage& image, int x, int y, float fade);
    // An overlay the next renderFrame blends into its picture after drawing
    // (markers included) and before resolving it into the output: the canvas
    // of a pass without output, compositeOverlay and an output pass, without
    // reading the whole picture back from memory. The image must live until
    // that renderFrame returns; overlays blend in the order given.
    void overlayBeforeResolve(const TextureImage& image, int x, int y, float fade);

    FrameStats statistics() const;

    // Test and benchmark hook: a fixed band layout for every pass (block counts
    // summing to blockCount(); returns false otherwise).
    int blockCount() const;
    bool setBlockCounts(const std::vector<int>& blockCounts);

    // The state behind this face, for the renderer's own tests and benchmarks
    // (render/internal/frame.h).
    struct State;
    State& internals() { return *state_; }

private:
    std::unique_ptr<State> state_;
};

} // namespace lumo
