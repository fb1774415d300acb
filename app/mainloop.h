#pragma once
// The demo main loop: sets everything up in a fixed order, starts the music
// and renders one frame per iteration until the display closes. The music's
// playback position is the clock: every frame it becomes one fractional track
// row (app/timeline.h), and every track of that frame is evaluated at that
// row. The frame's time (the timer's, read at the start of the frame) moves
// the camera wobble and the scenes' own motion; the timer's delta advances the
// distance.

#include "display/display.h"

#include <string>
#include <vector>

namespace lumo {

class Application;

// What is wrong with a locked frame for a window of that width; the loop
// needs 32-bit true colour rows of exactly windowWidth * 4 bytes.
struct FrameCheck {
    bool notTrueColor = false;
    bool unexpectedStride = false;
    bool ok() const { return !notTrueColor && !unexpectedStride; }
};
FrameCheck checkFrame(const Framebuffer::FrameDescriptor& frame, int windowWidth);

// The frame-rate lines, printed at most every five seconds: an exponential
// average of the time a frame takes to draw ("fps"), and what a viewer sees:
// how many frames were presented since the last print, the median and 95th
// percentile of the intervals between them, and the processor time the whole
// process used, as a share of the processors it may run on.
class FrameStatistics {
public:
    FrameStatistics();
    // Adds one frame's drawing time; true when the statistics are due at `now`.
    bool frameDone(double frameTime, double now);
    double fps() const { return 1.0 / averageFrameTime_; }
    // A frame was presented at `now` (seconds on the frame timer).
    void framePresented(double now);
    // The presentation line for the frames since the last call, which starts
    // the next period: "presented: ...".
    std::string presentedLine(double now, double processSeconds, int processors);

private:
    double averageFrameTime_ = 0.0;
    double lastPrint_ = 0.0;
    // The intervals of the period (kept, so presenting allocates nothing).
    std::vector<double> intervals_;
    double lastPresent_ = -1.0;
    double periodStart_ = 0.0;
    double periodProcessSeconds_ = 0.0;
};

struct PlaySettings {
    int threads = 0;   // the renderer's worker count, 0 for one per processor
    bool vsync = true; // frames paced to the display's refresh (app/pacing.h)
};

// Plays the demo with content from dataDirectory ("data/" or a path ending in
// "/data/"). Returns the process exit status: 0 after a normal end, 1 when the
// demo could not start (audio, music, track set or display) or the display
// handed out a frame it cannot draw into.
int demoMainLoop(Application& app, const std::string& dataDirectory = "data/",
                 const PlaySettings& settings = {});

} // namespace lumo
