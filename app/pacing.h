#pragma once
// Pacing the live loop to the display. A present that waits for the display's
// refresh (vsync) paces the loop by itself. Where it does not wait (a software
// renderer, a virtual X server, a compositor that returns at once), the loop
// sleeps until the next deadline of a fixed grid at the refresh interval:
// deadline n is anchor + n * interval, computed from n, so the cadence never
// drifts; a frame that ends past its deadline (a slow frame, a window being
// dragged) starts the next one on the first deadline still ahead, never in a
// burst of catch-up frames.
//
// Which of the two is the case is learnt from the presents themselves, when
// they were set up to wait for the refresh at all: while presenting takes a
// good part of the interval on average, the display is pacing and the loop
// does not sleep. Presents that were not set up to wait never count as
// pacing, however long a busy machine makes them. Pure arithmetic on the times it is given
// (seconds on one monotonic clock), so it is tested with a fake clock.

#include <cstdint>

namespace lumo {

class FramePacer {
public:
    static constexpr double kFallbackHz = 60.0;

    // refreshHz: the display mode's refresh rate; 0 (unknown), a value that is
    // not finite or one outside [20, 500] Hz means 60 Hz. presentsMayWait:
    // the presents were set up to wait for the refresh.
    FramePacer(double refreshHz, bool presentsMayWait);

    double interval() const { return interval_; }

    // A frame was presented from presentStart to presentEnd. Returns when the
    // next frame should start: presentEnd itself when no sleep is due.
    double framePresented(double presentStart, double presentEnd);

    // True while the presents are seen to wait for the display.
    bool displayPaces() const { return presentsMayWait_ && presentWait_ > 0.25 * interval_; }

private:
    double interval_;
    bool presentsMayWait_;
    double anchor_ = 0.0;
    int64_t next_ = -1; // index of the next deadline; -1 before the first frame
    double presentWait_ = 0.0;
};

} // namespace lumo
