#include "app/headless.h"

#include "app/png_writer.h"
#include "app/timeline.h"
#include "math/random.h"

#include <algorithm>
#include <cstdio>

namespace lumo {

HeadlessDemo::HeadlessDemo(const std::string& dataDirectory, int threads, int width, int height)
    : demo_(dataDirectory) {
    demo_.layout = layoutPicture(width, height);
    frame_.assign(size_t(demo_.layout.frameWidth) * demo_.layout.frameHeight, 0u);
    demo_.loadVariables();
    MersenneTwister random(103458469);
    (void)random; // seeds the shared generator state, as the live run does
    demo_.loadAssets();
    demo_.createRenderer(threads);
    demo_.createTracks();
    demo_.prepareScenes();
}

int HeadlessDemo::renderAt(double seconds, SceneSink* sink) {
    double row = rowFromSeconds(seconds);
    double distance = distance_.at(demo_.tracks.speed, seconds);
    Canvas canvas{frame_.data(), width(), height()};
    const int scene = demo_.renderFrame(row, seconds, distance, {}, &canvas, sink);
    // Every scene writes the whole picture, and nothing writes the bars around
    // it, black since the start. Without a scene the picture would stay as the
    // last frame left it: blacked out then, so that no earlier frame shows
    // through. (Blacking out every frame first cost the benchmark a pass over
    // the canvas that the live demo never makes.)
    if (scene == 0) {
        std::fill(frame_.begin(), frame_.end(), 0u);
    }
    return scene;
}

int renderFrameCommand(const std::string& dataDirectory, double seconds, const std::string& out,
                       int threads, int width, int height) {
    HeadlessDemo demo(dataDirectory, threads, width, height);
    if (!demo.session().trackSet) {
        std::fprintf(stderr, "lumo: track set failed, out of memory?\n");
        return 1;
    }
    int scene = demo.renderAt(seconds);
    std::string error;
    if (!writeXrgbPng(out, demo.pixels(), demo.width(), demo.height(), demo.width(), error)) {
        std::fprintf(stderr, "lumo: cannot write %s: %s\n", out.c_str(), error.c_str());
        return 1;
    }
    std::printf("frame at %.3f s (row %.2f, scene %d) written to %s\n", seconds,
                rowFromSeconds(seconds), scene, out.c_str());
    return 0;
}

} // namespace lumo
