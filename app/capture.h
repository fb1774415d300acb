#pragma once
// Headless capture: the timeline rendered with a fixed-step clock instead of the
// music, frame k at position from + k / fps seconds, each frame exactly the one
// `lumo --frame` draws at that position. The output is either a directory of
// numbered PNG frames with audio.wav (the decoded music of the frames' span,
// sample for sample), or an MP4 made by piping the same frames and audio into
// ffmpeg.
//
// What is left behind must never look complete when it is not: frames are
// written under a ".part" name and renamed once whole, audio.wav (or the MP4)
// is renamed into place last, and a failed capture removes what it wrote. An
// interrupt (Ctrl+C) ends the capture after the current frame and finishes the
// output for the frames written so far, so it stays valid, only shorter.

#include <cstdint>
#include <string>
#include <vector>

namespace lumo {

struct DecodedAudio;

struct CaptureSettings {
    std::string directory; // PNG frames and audio.wav
    std::string video;     // or an MP4 through ffmpeg
    int fps = 60;
    double from = 0.0;
    double to = -1.0; // negative: the end of the music
    int threads = 0;  // 0: one worker per processor
};

// Which frames and which samples a capture covers.
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

// Plans a capture of [from, to) (to < 0: up to musicSeconds). Returns false with
// a one-line reason when from is not inside the music or to is not after from;
// a `to` beyond the end is clamped to it.
bool planCapture(double from, double to, int fps, double musicSeconds, uint32_t sampleRate,
                 CapturePlan& plan, std::string& error);

// Sample frames [first, first + count) of the music, interleaved; silence past
// its end.
// Decodes the demo's music and plans [from, to) at fps over its length.
// Returns 0, or the exit status after a one-line message (1: no music, 2: a
// range outside the demo).
int planOverMusic(const std::string& dataDirectory, double from, double to, int fps,
                  DecodedAudio& music, CapturePlan& plan);

std::vector<int16_t> audioSpan(const DecodedAudio& audio, uint64_t first, uint64_t count);

// A canonical 16-bit PCM WAV file. Returns false with a one-line reason; a
// partly written file stays for the caller to remove.
bool writeWav(const std::string& path, const int16_t* samples, uint64_t frames, uint32_t sampleRate,
              uint32_t channels, std::string& error);

// "frame000042.png"
std::string captureFrameName(int k);

// "frame 12/900   1.3 %  24.1 fps  0:37 left"
std::string progressLine(int done, int total, double framesPerSecond);

// The ffmpeg command line (program first): raw XRGB frames on standard input,
// the WAV as the second input, H.264 + AAC into `out` as MP4, the 640 x 360
// picture scaled to 1280 x 720 with nearest-neighbour.
std::vector<std::string> ffmpegArguments(const std::string& ffmpeg, int fps,
                                         const std::string& audioPath, const std::string& out);

// The executable `name` in PATH, empty when there is none.
std::string findInPath(const std::string& name);

// `lumo --capture DIR` / `lumo --video FILE.mp4`: returns the process status:
// 0 done, 1 failed (nothing that looks complete left), 2 bad range, 130 when
// interrupted (the output is valid for the frames captured).
int captureCommand(const std::string& dataDirectory, const CaptureSettings& settings);

} // namespace lumo
