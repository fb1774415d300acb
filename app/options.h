#pragma once
// The command line. With no arguments the program is the launcher followed by
// the demo; each option is opt-in.

#include "app/capture.h"

#include <string>
#include <string_view>
#include <vector>

namespace lumo {

struct Options {
    bool launcher = true; // show the dialog; false when an option answers it
    bool fullScreen = false;
    bool force720p = false;
    bool native = false; // --native: full screen at the screen's own size
    // --size WxH: the frame's size; 0 x 0 when not given (640 x 480 in a
    // window, 640 x 360 headless).
    int width = 0, height = 0;
    bool help = false;
    // Headless single frame: --frame SECONDS --out FILE.png.
    bool frame = false;
    double frameSeconds = 0.0;
    std::string out;
    int threads = 0;   // --threads N; 0: one worker per processor
    bool vsync = true; // --no-vsync: live play presents flat out, for measuring
    // Headless capture: --capture DIR or --video FILE.mp4, --fps N, --from S, --to S.
    std::string captureDirectory;
    std::string video;
    int fps = 60;
    double from = 0.0;
    double to = -1.0;                               // negative: the end of the music
    int pngLevel = kDefaultPngLevel;                // --png-level 0-9, with --capture
    VideoQuality videoQuality = VideoQuality::Fast; // --video-quality, with --video
    // Benchmark: --bench [--threads LIST] [--frames K] [--json FILE].
    bool bench = false;
    std::vector<int> threadList; // every count given to --threads, in order
    int frames = 20;
    std::string json;
    std::string error; // one line when the command line is not understood
};

Options parseCommandLine(int argc, const char* const* argv);

// The range --size takes.
constexpr int kMinWidth = 320, kMinHeight = 180, kMaxWidth = 3840, kMaxHeight = 2160;

// "WxH" with both in range; false leaves width and height as they were.
bool parseSize(std::string_view text, int& width, int& height);

// The text printed by --help.
const char* usageText();

} // namespace lumo
