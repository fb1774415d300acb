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
    uint64_t p = start_;
    if (moving_ && end_ > start_) {
        // A reader on another core may see a time slightly before the callback's.
        double elapsed = std::max(0.0, t - takenAt_);
        double ahead = std::floor(elapsed * double(rate_));
        uint64_t span = end_ - start_;
        uint64_t step = ahead >= double(span) ? span : uint64_t(ahead);
        p = start_ + step / frameBytes_ * frameBytes_;
    }
    lastReported_ = std::max(lastReported_, p);
    return lastReported_;
}

} // namespace lumo
