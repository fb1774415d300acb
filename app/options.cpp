#include "app/options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

namespace lumo {

namespace {

bool parseNumber(std::string_view text, double& value) {
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

bool parseCount(std::string_view text, int& value) {
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

} // namespace

bool parseSize(std::string_view text, int& width, int& height) {
    const size_t x = text.find('x');
    if (x == std::string_view::npos) {
        return false;
    }
    int w = 0, h = 0;
    // Digits only: from_chars alone would take a sign.
    auto digits = [](std::string_view t) {
        return !t.empty() && t.find_first_not_of("0123456789") == std::string_view::npos;
    };
    if (!digits(text.substr(0, x)) || !digits(text.substr(x + 1)) ||
        !parseCount(text.substr(0, x), w) || !parseCount(text.substr(x + 1), h) || w < kMinWidth ||
        w > kMaxWidth || h < kMinHeight || h > kMaxHeight) {
        return false;
    }
    width = w;
    height = h;
    return true;
}

Options parseCommandLine(int argc, const char* const* argv) {
    Options o;
    auto fail = [&o](const std::string& message) {
        o.error = message + " (try --help)";
        return o;
    };
    bool fpsGiven = false, fromGiven = false, toGiven = false, framesGiven = false;
    bool pngLevelGiven = false, qualityGiven = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view a = argv[i] ? argv[i] : "";
        bool hasValue = i + 1 < argc && argv[i + 1];
        std::string_view value = hasValue ? argv[i + 1] : "";
        const std::string quoted = "'" + std::string(value) + "'";
        if (a == "--frame" || a == "--out" || a == "--threads" || a == "--capture" ||
            a == "--video" || a == "--fps" || a == "--from" || a == "--to" || a == "--frames" ||
            a == "--json" || a == "--png-level" || a == "--video-quality" || a == "--size") {
            if (!hasValue || value.empty()) {
                return fail(std::string(a) + " needs a value");
            }
            ++i;
        }
        if (a == "--frame") {
            if (!parseNumber(value, o.frameSeconds) || o.frameSeconds < 0.0) {
                return fail("--frame needs a position in seconds, not " + quoted);
            }
            o.frame = true;
        } else if (a == "--out") {
            o.out = value;
        } else if (a == "--threads") {
            o.threadList.clear();
            for (size_t begin = 0; begin <= value.size();) {
                size_t comma = std::min(value.find(',', begin), value.size());
                int count = 0;
                if (!parseCount(value.substr(begin, comma - begin), count) || count < 1 ||
                    count > 64) {
                    return fail("--threads needs a worker count from 1 to 64 (a list such as "
                                "1,2 with --bench), not " +
                                quoted);
                }
                o.threadList.push_back(count);
                begin = comma + 1;
            }
            o.threads = o.threadList.front();
        } else if (a == "--capture") {
            o.captureDirectory = value;
        } else if (a == "--video") {
            o.video = value;
        } else if (a == "--fps") {
            if (!parseCount(value, o.fps) || o.fps < 1 || o.fps > 1000) {
                return fail("--fps needs frames per second from 1 to 1000, not " + quoted);
            }
            fpsGiven = true;
        } else if (a == "--from" || a == "--to") {
            double& seconds = a == "--from" ? o.from : o.to;
            if (!parseNumber(value, seconds) || seconds < 0.0) {
                return fail(std::string(a) + " needs a position in seconds, not " + quoted);
            }
            (a == "--from" ? fromGiven : toGiven) = true;
        } else if (a == "--frames") {
            if (!parseCount(value, o.frames) || o.frames < 1 || o.frames > 100000) {
                return fail("--frames needs a count from 1 to 100000, not " + quoted);
            }
            framesGiven = true;
        } else if (a == "--png-level") {
            if (!parseCount(value, o.pngLevel) || o.pngLevel < 0 || o.pngLevel > 9) {
                return fail("--png-level needs a compression level from 0 to 9, not " + quoted);
            }
            pngLevelGiven = true;
        } else if (a == "--video-quality") {
            if (value == "fast") {
                o.videoQuality = VideoQuality::Fast;
            } else if (value == "good") {
                o.videoQuality = VideoQuality::Good;
            } else if (value == "best") {
                o.videoQuality = VideoQuality::Best;
            } else {
                return fail("--video-quality needs fast, good or best, not " + quoted);
            }
            qualityGiven = true;
        } else if (a == "--size") {
            if (!parseSize(value, o.width, o.height)) {
                return fail("--size needs WIDTHxHEIGHT from 320x180 to 3840x2160, not " + quoted);
            }
        } else if (a == "--json") {
            o.json = value;
        } else if (a == "--bench") {
            o.bench = true;
        } else if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--no-vsync") {
            o.vsync = false;
        } else if (a == "--no-launcher") {
            o.launcher = false;
        } else if (a == "--fullscreen") {
            o.launcher = false;
            o.fullScreen = true;
        } else if (a == "--force-720p") {
            o.launcher = false;
            o.force720p = true;
        } else if (a == "--native") {
            o.launcher = false;
            o.fullScreen = true;
            o.native = true;
        } else {
            return fail("unknown option '" + std::string(a) + "'");
        }
    }
    const bool capture = !o.captureDirectory.empty() || !o.video.empty();
    if (int(o.frame) + int(!o.captureDirectory.empty()) + int(!o.video.empty()) + int(o.bench) >
        1) {
        return fail("--frame, --capture, --video and --bench are separate modes; give one");
    }
    if (o.frame && o.out.empty()) {
        return fail("--frame needs --out FILE.png");
    }
    if (!o.frame && !o.out.empty()) {
        return fail("--out goes with --frame");
    }
    if (!o.vsync && (o.frame || capture || o.bench)) {
        return fail("--no-vsync goes with live play; --frame, --capture, --video and --bench "
                    "always run flat out");
    }
    const bool sized = o.width > 0;
    if (o.native && (sized || o.force720p || o.frame || capture || o.bench)) {
        return fail("--native plays full screen at the screen's own size; it takes no --size, "
                    "--force-720p or headless mode");
    }
    if (sized && o.force720p) {
        return fail("--size and --force-720p both choose the frame's size; give one");
    }
    if (sized) {
        o.launcher = false; // the size is chosen: nothing is left to ask
    }
    if (o.threadList.size() > 1 && !o.bench) {
        return fail("--threads takes a list only with --bench");
    }
    if (fpsGiven && !capture) {
        return fail("--fps goes with --capture or --video");
    }
    if ((fromGiven || toGiven) && !capture && !o.bench) {
        return fail("--from and --to go with --capture, --video or --bench");
    }
    if (pngLevelGiven && o.captureDirectory.empty()) {
        return fail("--png-level goes with --capture");
    }
    if (qualityGiven && o.video.empty()) {
        return fail("--video-quality goes with --video");
    }
    if ((framesGiven || !o.json.empty()) && !o.bench) {
        return fail("--frames and --json go with --bench");
    }
    if (toGiven && o.to <= o.from) {
        return fail("--to must come after --from");
    }
    return o;
}

const char* usageText() {
    return "usage: lumo [options]\n"
           "\n"
           "Without options lumo shows its launcher, then plays the demo.\n"
           "\n"
           "  --no-launcher   play at once, in a 640x480 window\n"
           "  --fullscreen    play at once, full screen (as if \"full screen\" were ticked)\n"
           "  --force-720p    play at once with a 640x360 frame; full screen then uses\n"
           "                  exactly the 1280x720 display mode\n"
           "  --native        play at once, full screen at the screen's own resolution\n"
           "  --size WxH      the frame's size in pixels, from 320x180 to 3840x2160: plays\n"
           "                  at once in a window of that size (full screen with\n"
           "                  --fullscreen), or sizes the frames of --frame, --capture,\n"
           "                  --video and --bench (default 640x360); the 16:9 picture is\n"
           "                  letterboxed in a frame of another shape\n"
           "  --threads N     render with N worker threads (default: one per processor)\n"
           "  --no-vsync      draw frames as fast as possible instead of once per display\n"
           "                  refresh (for measuring)\n"
           "  --frame SECONDS --out FILE.png\n"
           "                  render the frame at that timeline position without a\n"
           "                  window or sound, and write it as a PNG\n"
           "  --capture DIR --fps N [--from SECONDS] [--to SECONDS]\n"
           "                  render the timeline without a window or sound at N frames\n"
           "                  per second (frame k at FROM + k/N s; default 60 fps, from 0\n"
           "                  to the end of the music) into DIR/frame000000.png, ... and\n"
           "                  DIR/audio.wav, the music of the same span\n"
           "  --png-level N   with --capture: PNG compression from 0 (none) to 9 (smallest\n"
           "                  files, slowest); default 1\n"
           "  --video FILE.mp4 --fps N [--from SECONDS] [--to SECONDS]\n"
           "                  the same piped into ffmpeg (must be installed): H.264 and\n"
           "                  AAC; 640x360 frames are scaled to 1280x720 with sharp pixels,\n"
           "                  frames of another --size are kept as they are\n"
           "  --video-quality fast|good|best\n"
           "                  with --video: x264's veryfast, medium or slow preset at the\n"
           "                  same constant quality; slower comes a little closer to the\n"
           "                  frames (default fast)\n"
           "  --bench [--threads LIST] [--frames K] [--json FILE]\n"
           "                  time K frames (default 20) at fixed positions of every scene\n"
           "                  for each worker count of LIST (such as 1,2; default 1 and\n"
           "                  one per processor), then the whole timeline at 60 fps\n"
           "                  (--from/--to limit that run); prints a table, writes JSON\n"
           "  --help          print this text and exit\n"
           "\n"
           "lumo reads its content from the data/ directory beside the program, else\n"
           "from share/lumo/ of the prefix it is installed under (PREFIX/bin/lumo), else\n"
           "from data/ in the current directory. Escape ends the demo; Ctrl+C ends a\n"
           "capture after the current frame, keeping what was written.\n";
}

} // namespace lumo
