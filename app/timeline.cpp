#include "app/timeline.h"

#include "audio/mp3.h"
#include "params/track.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>

namespace lumo {

int truncChoice(float v) {
    if (!(v == v)) {
        return 0;
    }
    if (v >= 2147483520.0f) {
        return 2147483647;
    }
    if (v <= -2147483520.0f) {
        return -2147483647 - 1;
    }
    return int(v);
}

int roundChoice(float v) {
    return truncChoice(v + 0.5f);
}

double LiveDistance::advance(const SyncTrack* speed, double row, double frameSeconds) {
    if (speed) {
        value_ += double(speed->valueAt(row)) * frameSeconds;
    }
    return value_;
}

double distanceAt(const SyncTrack* speed, double seconds) {
    DistanceClock clock;
    return clock.at(speed, seconds);
}

double DistanceClock::at(const SyncTrack* speed, double seconds) {
    // Far enough for any demo: a day of steps.
    constexpr long kMaxSteps = 24L * 3600 * 240;
    if (!(seconds > 0.0) || !speed) {
        return 0.0;
    }
    if (speed != speed_ || double(steps_) * kStep > seconds) {
        speed_ = speed;
        steps_ = 0;
        sum_ = 0.0;
    }
    // Whole steps: each adds the speed at its end times its length, as the live
    // loop adds the speed at the frame's row times the frame's length. Past the
    // last key the speed is constant, so the steps stop one beyond it (and a
    // day in at most) and the rest is one product: far positions cost no time.
    long lastStep = kMaxSteps;
    if (speed->keyCount > 0) {
        double lastKey = double(speed->keys[speed->keyCount - 1].row) / rowsPerSecond;
        lastStep = long(std::clamp(std::ceil(lastKey / kStep) + 1.0, 0.0, double(kMaxSteps)));
    }
    while (steps_ < lastStep && double(steps_ + 1) * kStep <= seconds) {
        ++steps_;
        double t = double(steps_) * kStep;
        sum_ += double(speed->valueAt(rowFromSeconds(t))) * kStep;
    }
    double covered = double(steps_) * kStep;
    if (covered >= seconds) {
        return sum_;
    }
    return sum_ + double(speed->valueAt(rowFromSeconds(seconds))) * (seconds - covered);
}

bool planCapture(double from, double to, int fps, double musicSeconds, uint32_t sampleRate,
                 CapturePlan& plan, std::string& error) {
    char line[256];
    if (fps < 1 || sampleRate == 0) {
        error = "the frame rate must be at least 1";
        return false;
    }
    if (!(from >= 0.0) || !(from < musicSeconds)) {
        std::snprintf(line, sizeof line, "--from %.3f is beyond the end of the demo (%.3f s)", from,
                      musicSeconds);
        error = line;
        return false;
    }
    plan = CapturePlan{};
    plan.fps = fps;
    plan.from = from;
    plan.to = to < 0.0 ? musicSeconds : to;
    if (plan.to > musicSeconds) {
        plan.to = musicSeconds;
        plan.clamped = true;
    }
    if (!(plan.to > from)) {
        error = "--to must come after --from";
        return false;
    }
    // Frames at from + k / fps for every k that lands before `to`; the tolerance
    // keeps 1.5 s at 10 fps at 15 frames despite the rounding of the product.
    double count = std::ceil((plan.to - from) * double(fps) - 1e-9);
    if (count > 1e8) {
        error = "that is more frames than one capture can hold";
        return false;
    }
    plan.frameCount = std::max(1, int(count));
    plan.sampleRate = sampleRate;
    plan.firstSample = uint64_t(std::llround(from * double(sampleRate)));
    plan.sampleCount = plan.samplesForFrames(plan.frameCount);
    return true;
}

int planOverMusic(const std::string& dataDirectory, double from, double to, int fps,
                  DecodedAudio& music, CapturePlan& plan) {
    const std::string musicPath = dataDirectory + "j2.mp3";
    if (int code = decodeMp3File(musicPath, music); code != 0) {
        std::fprintf(stderr, "lumo: cannot decode the music %s (error %d)\n", musicPath.c_str(),
                     code);
        return 1;
    }
    const double musicSeconds = double(music.frameCount()) / double(music.rate);
    std::string error;
    if (!planCapture(from, to, fps, musicSeconds, music.rate, plan, error)) {
        std::fprintf(stderr, "lumo: %s\n", error.c_str());
        return 2;
    }
    return 0;
}

std::vector<int16_t> audioSpan(const DecodedAudio& audio, uint64_t first, uint64_t count) {
    const uint64_t channels = audio.channels;
    std::vector<int16_t> span(size_t(count * channels), int16_t(0));
    const uint64_t available = audio.frameCount();
    if (first < available) {
        uint64_t n = std::min(count, available - first);
        std::copy_n(audio.samples.begin() + std::ptrdiff_t(first * channels), size_t(n * channels),
                    span.begin());
    }
    return span;
}

} // namespace lumo
