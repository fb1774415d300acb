#pragma once
// The position of a playing stream between two output callbacks.
//
// The output asks for a buffer, the callback copies it and records when. From
// that moment the buffer is being consumed at the nominal byte rate, so the
// position is the buffer's start plus the elapsed time times the rate, held at
// the buffer's end: a late callback freezes the clock briefly instead of letting
// it run ahead of what the output has really taken, and an early one makes it
// jump forward to the new buffer start. Either way it never goes backwards.
//
// What the output holds beyond the buffer it has just taken (the device's own
// buffer) is heard only after that: with a latency set, the position is what
// the listener hears now, that much behind the bytes taken, and never beyond
// the end of the last buffer taken. It starts at 0, not below.
//
// Pure arithmetic on the times it is given (seconds on any monotonic scale), so
// it is tested without a sound card or a real clock.

#include <cstdint>

namespace lumo {

class PlaybackClock {
public:
    explicit PlaybackClock(uint64_t bytesPerSecond, uint32_t bytesPerFrame = 4)
        : rate_(bytesPerSecond), frameBytes_(bytesPerFrame) {}

    // The output took [start, end) of the stream at time t.
    void bufferTaken(uint64_t start, uint64_t end, double t);

    // Bytes the output holds beyond the buffer being taken (0: none, as for an
    // output that plays nothing).
    void setLatency(uint64_t bytes) { latency_ = bytes; }

    // Forget every buffer: the stream is at byte `at` and not moving.
    void reset(uint64_t at);

    // The interpolated position at time t, a whole number of sample frames,
    // never less than a position returned before.
    uint64_t position(double t);

private:
    uint64_t rate_;
    uint32_t frameBytes_;
    uint64_t start_ = 0;
    uint64_t end_ = 0;
    double takenAt_ = 0.0;
    bool moving_ = false;
    uint64_t lastReported_ = 0;
    uint64_t latency_ = 0;
};

} // namespace lumo
