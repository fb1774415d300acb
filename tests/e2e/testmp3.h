#pragma once
// A short MP3 for the tests: a quiet 440 Hz tone encoded with libmp3lame,
// written with its LAME tag so a gapless decoder returns exactly `frames`
// sample frames.

#include <cstdint>
#include <string>

namespace lumo::test {

// Writes `frames` sample frames at `rate` Hz with `channels` channels (1 or 2).
// Returns false when the encoder or the file fails.
bool writeTestMp3(const std::string& path, uint32_t frames, int rate = 44100, int channels = 2);

// The value of the tone at sample frame i, as encoded (before the codec's loss).
int16_t testToneSample(uint32_t i, int rate = 44100);

} // namespace lumo::test
