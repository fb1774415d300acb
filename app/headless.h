#pragma once
// The demo without a window or a sound device: single frames at a timeline
// position. A headless frame depends only on its position: now is the position
// in seconds and the distance is distanceAt(speed, position) (app/timeline.h),
// so every headless mode draws the same picture for the same position.

#include "app/demo.h"
#include "app/timeline.h"
#include "sys/aligned.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace lumo {

class HeadlessDemo {
public:
    // Loads everything the demo loads, in the same order; threads 0 means one
    // worker per processor. Frames are width x height (the demo's 640 x 360
    // unless given), the picture letterboxed in them as in a window.
    HeadlessDemo(const std::string& dataDirectory, int threads,
                 int width = PictureLayout::kBaseWidth, int height = PictureLayout::kBaseHeight);

    // Draws the frame at `seconds`; returns the scene. A sink, when given, sees
    // every scene call on its way to the renderer.
    int renderAt(double seconds, SceneSink* sink = nullptr);

    const uint32_t* pixels() const { return frame_.data(); }
    int width() const { return demo_.layout.frameWidth; }
    int height() const { return demo_.layout.frameHeight; }
    DemoSession& session() { return demo_; }

private:
    DemoSession demo_;
    DistanceClock distance_;
    AlignedVector<uint32_t> frame_;
};

// `lumo --frame SECONDS --out FILE.png [--size WxH]`: returns the process exit
// status.
int renderFrameCommand(const std::string& dataDirectory, double seconds, const std::string& out,
                       int threads, int width = PictureLayout::kBaseWidth,
                       int height = PictureLayout::kBaseHeight);

} // namespace lumo
