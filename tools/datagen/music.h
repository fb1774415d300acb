#pragma once
// The soundtrack: a small synthesizer (drums, bass, pads, arpeggio, lead) that
// plays an 80-bar arrangement at 110 BPM, and the MP3 encoder around libmp3lame.
//
// 110 BPM is 8 timeline rows per beat at 44/3 rows per second, so one bar is 32
// rows: every section of the music starts on the row where the timeline puts
// its scene change.

#include <cstdint>
#include <string>
#include <vector>

namespace lumo::datagen {

constexpr int kSampleRate = 44100;
constexpr double kBpm = 110.0;
constexpr int kSongBars = 80;

struct Song {
    std::vector<float> left, right; // peak normalized to -3 dBFS
};

// Synthesizes the whole song (deterministic: fixed seeds, no global state).
Song synthesize();

// Encodes 16-bit stereo at 192 kbit/s CBR with the LAME/Xing info frame, so a
// decoder knows the exact length and skips encoder delay and padding.
bool writeMp3(const std::string& path, const Song& song);

// Seconds at the start of a bar.
inline double barSeconds(double bar) {
    return bar * 4.0 * 60.0 / kBpm;
}

} // namespace lumo::datagen
