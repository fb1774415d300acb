#pragma once
// Where the demo is in time. The music is the clock: a position in seconds is a
// fractional track row, 44/3 rows a second (110 beats a minute, 8 rows a beat),
// and every track of a frame is read at that row. Integer choices made from
// track and tweak values (which scene, which camera key, which greeting) round
// or truncate by one rule. The "distance" is the integral of the "speed" track
// over time: the live run sums it frame by frame in real time, the headless
// modes by fixed steps, so a headless frame depends on its position alone.
// The headless modes cover the music by a plan: frames on a fixed-rate grid and
// the samples of exactly their span.

#include <cstdint>
#include <string>
#include <vector>

namespace lumo {

class SyncTrack;
struct DecodedAudio;

constexpr double rowsPerSecond = 44.0 / 3.0;

inline double rowFromSeconds(double seconds) {
    return seconds * rowsPerSecond;
}

// Integer choices from tracks: trunc(v + 0.5) in single precision. Halves go
// up (2.5 to 3, -2.5 to -2), negative values lean towards zero (-2.6 to -2),
// and the float sum itself rounds (0.49999997 to 1). Values beyond the int
// range saturate instead of converting with undefined behaviour; NaN is 0.
int roundChoice(float v);
// trunc(v) with the same saturation (counts and positions from tweak values).
int truncChoice(float v);

// The live run's distance: each frame adds the speed at the frame's row times
// the frame's length in real time.
class LiveDistance {
public:
    double advance(const SyncTrack* speed, double row, double frameSeconds);
    double value() const { return value_; }

private:
    double value_ = 0.0;
};

// The integral of the "speed" track from 0 to `seconds`, by fixed steps of
// 1/240 s (the last one partial): the one rule every headless mode uses.
double distanceAt(const SyncTrack* speed, double seconds);

// distanceAt for a sequence of positions: a later position continues the sum
// of whole steps where the previous one stopped (an earlier one starts again),
// so every answer is bit for bit distanceAt's.
class DistanceClock {
public:
    static constexpr double kStep = 1.0 / 240.0;

    double at(const SyncTrack* speed, double seconds);

private:
    const SyncTrack* speed_ = nullptr;
    long steps_ = 0;   // whole steps summed so far
    double sum_ = 0.0; // their sum
};

// Which frames and which samples a headless run covers: frame k at from + k /
// fps seconds for every k that starts before `to`.
struct CapturePlan {
    int fps = 60;
    double from = 0.0;
    double to = 0.0; // after clamping to the music's end
    bool clamped = false;
    int frameCount = 0;
    uint32_t sampleRate = 44100;
    uint64_t firstSample = 0; // sample frames of the music
    uint64_t sampleCount = 0; // exactly the span of frameCount frames

    double framePosition(int k) const { return from + double(k) / double(fps); }
    // Sample frames lasting as long as n frames, rounded to the nearest.
    uint64_t samplesForFrames(int n) const {
        return (uint64_t(n) * sampleRate * 2 + uint64_t(fps)) / (2 * uint64_t(fps));
    }
};

// Plans [from, to) (to < 0: up to musicSeconds). Returns false with a one-line
// reason when from is not inside the music or to is not after from; a `to`
// beyond the end is clamped to it.
bool planCapture(double from, double to, int fps, double musicSeconds, uint32_t sampleRate,
                 CapturePlan& plan, std::string& error);

// Decodes the demo's music into `music` and plans [from, to) at fps over its
// length. Returns 0, or the exit status after a one-line message on standard
// error (1: no music, 2: a range outside the demo).
int planOverMusic(const std::string& dataDirectory, double from, double to, int fps,
                  DecodedAudio& music, CapturePlan& plan);

// Sample frames [first, first + count) of the music, interleaved; silence past
// its end.
std::vector<int16_t> audioSpan(const DecodedAudio& audio, uint64_t first, uint64_t count);

} // namespace lumo
