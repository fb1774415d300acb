#include "audio/playclock.h"

#include <algorithm>
#include <cmath>

namespace lumo {

void PlaybackClock::bufferTaken(uint64_t start, uint64_t end, double t) {
    start_ = start;
    end_ = std::max(start, end);
    takenAt_ = t;
    moving_ = true;
}

void PlaybackClock::reset(uint64_t at) {
    start_ = end_ = at;
    moving_ = false;
    lastReported_ = at;
}

uint64_t PlaybackClock::position(double t) {
    // Heard now: the buffer's start plus what has played since it was taken,
    // less what the output held before it, and never past the buffer's end.
    uint64_t played = 0;
    if (moving_ && end_ > start_) {
        // A reader on another core may see a time slightly before the callback's.
        double elapsed = std::max(0.0, t - takenAt_);
        double ahead = std::floor(elapsed * double(rate_));
        uint64_t most = end_ - start_ + latency_;
        played = ahead >= double(most) ? most : uint64_t(ahead);
    }
    const uint64_t reached = start_ + played;
    uint64_t p = reached > latency_ ? reached - latency_ : 0;
    p = std::min(p, end_) / frameBytes_ * frameBytes_;
    lastReported_ = std::max(lastReported_, p);
    return lastReported_;
}

} // namespace lumo
