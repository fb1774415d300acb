#pragma once
// Headless capture: the timeline rendered with a fixed-step clock instead of the
// music, frame k at the plan's position from + k / fps seconds (app/timeline.h),
// each frame exactly the one `lumo --frame` draws at that position. The output
// is either a directory of numbered PNG frames with audio.wav (the decoded music
// of the frames' span, sample for sample; the PNGs compressed on encoder threads
// while the next frames render, app/frame_writer.h), or an MP4 made by piping the same
// frames and audio into ffmpeg (through sys/process.h).
//
// What is left behind must never look complete when it is not: frames are
// written under a ".part" name and renamed once whole, audio.wav (or the MP4)
// is renamed into place last, and a failed capture removes what it wrote. An
// interrupt (Ctrl+C) ends the capture after the current frame and finishes the
// output for the frames written so far, so it stays valid, only shorter.

#include "app/timeline.h"

#include <cstdint>
#include <string>
#include <vector>

namespace lumo {

// The file operations of a directory capture. Everything it leaves under a
// final name goes through writePng or writeWav under a ".part" name and then
// rename; this is the seam where a test can watch that. The base class is the
// real file system.
class CaptureFiles {
public:
    virtual ~CaptureFiles() = default;
    // Called from the encoder threads, several at once.
    virtual bool writePng(const std::string& path, const uint32_t* pixels, int width, int height,
                          int level, std::string& error);
    virtual bool writeWav(const std::string& path, const std::vector<int16_t>& samples,
                          uint32_t sampleRate, uint32_t channels, std::string& error);
    virtual bool rename(const std::string& from, const std::string& to, std::string& error);
};

// Level 1 makes files about a quarter larger than level 6 in a tenth of the
// time: compression was most of a capture's time.
inline constexpr int kDefaultPngLevel = 1;

// x264's presets at one constant quality (CRF 18): slower presets find better
// ways to spend the same bits. Fast is veryfast, good is medium, best is slow.
enum class VideoQuality { Fast, Good, Best };
const char* x264Preset(VideoQuality quality);

struct CaptureSettings {
    std::string directory; // PNG frames and audio.wav
    std::string video;     // or an MP4 through ffmpeg
    int fps = 60;
    double from = 0.0;
    double to = -1.0;              // negative: the end of the music
    int threads = 0;               // 0: one worker per processor
    int width = 640, height = 360; // the frames
    int pngLevel = kDefaultPngLevel;
    VideoQuality videoQuality = VideoQuality::Fast;
    CaptureFiles* files = nullptr; // null: the real file system
};

// A canonical 16-bit PCM WAV file. Returns false with a one-line reason; a
// partly written file stays for the caller to remove.
bool writeWav(const std::string& path, const int16_t* samples, uint64_t frames, uint32_t sampleRate,
              uint32_t channels, std::string& error);

// "frame000042.png"
std::string captureFrameName(int k);

// "frame 12/900   1.3 %  24.1 fps  0:37 left"
std::string progressLine(int done, int total, double framesPerSecond);

// The ffmpeg command line (program first): raw XRGB frames of width x height
// on standard input, the WAV as the second input, H.264 + AAC into `out` as
// MP4. The demo's own 640 x 360 is scaled to 1280 x 720 with nearest-neighbour;
// another size is kept, an odd width or height padded by one black pixel
// (4:2:0 chroma needs even sizes).
std::vector<std::string> ffmpegArguments(const std::string& ffmpeg, int fps, int width, int height,
                                         const std::string& audioPath, const std::string& out,
                                         VideoQuality quality);

// `lumo --capture DIR` / `lumo --video FILE.mp4`: returns the process status:
// 0 done, 1 failed (nothing that looks complete left), 2 bad range, 130 when
// interrupted (the output is valid for the frames captured).
int captureCommand(const std::string& dataDirectory, const CaptureSettings& settings);

} // namespace lumo
