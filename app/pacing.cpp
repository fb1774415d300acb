#include "app/pacing.h"

#include <cmath>

namespace lumo {

FramePacer::FramePacer(double refreshHz, bool presentsMayWait)
    : interval_(1.0 / (std::isfinite(refreshHz) && refreshHz >= 20.0 && refreshHz <= 500.0
                           ? refreshHz
                           : kFallbackHz)),
      presentsMayWait_(presentsMayWait) {}

double FramePacer::framePresented(double presentStart, double presentEnd) {
    // A slowly moving average: one late present does not switch the pacing.
    presentWait_ = presentWait_ * 0.9 + (presentEnd - presentStart) * 0.1;
    if (next_ < 0 || displayPaces()) {
        // Start (or restart) the grid at this present: when the display stops
        // pacing, the loop's own deadlines take over from here.
        anchor_ = presentEnd;
        next_ = 1;
        if (displayPaces()) {
            return presentEnd;
        }
    }
    double deadline = anchor_ + double(next_) * interval_;
    if (presentEnd > deadline) {
        // Late: skip the deadlines already past instead of catching up.
        next_ += int64_t(std::floor((presentEnd - deadline) / interval_)) + 1;
        deadline = anchor_ + double(next_) * interval_;
    }
    ++next_;
    return deadline;
}

} // namespace lumo
