#include "app/entry.h"

#include "app/application.h"
#include "app/benchmark.h"
#include "app/capture.h"
#include "app/headless.h"
#include "app/launcher_view.h"
#include "app/mainloop.h"
#include "app/options.h"
#include "display/display.h"
#include "display/sdl_display.h"
#include "render/simd.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace lumo {

void applyLauncherResults(const LauncherResults& results, Application& app) {
    // The screen's own size leaves nothing for a forced mode to choose.
    if (results.force720p && !results.nativeResolution) {
        Framebuffer::forceFullscreenMode = 1;
        Framebuffer::forcedModeWidth = 1280;
        Framebuffer::forcedModeHeight = 720;
    } else {
        Framebuffer::forceFullscreenMode = 0;
    }
    app.fullScreen = results.fullScreen || results.nativeResolution;
    app.nativeResolution = results.nativeResolution;
}

namespace {

namespace fs = std::filesystem;

fs::path installedDataDirectory(const std::string& programDirectory) {
    return fs::path(programDirectory).parent_path() / "share" / "lumo";
}

} // namespace

std::string findDataDirectory(const std::string& programDirectory) {
    if (!programDirectory.empty()) {
        std::error_code ec;
        fs::path beside = fs::path(programDirectory) / "data";
        if (fs::is_directory(beside, ec)) {
            return beside.string() + "/";
        }
        fs::path installed = installedDataDirectory(programDirectory);
        if (fs::is_directory(installed, ec)) {
            return installed.string() + "/";
        }
    }
    return "data/";
}

std::string missingData(const std::string& directory, const std::string& programDirectory) {
    std::error_code ec;
    if (!fs::is_directory(directory, ec)) {
        std::string places = "./data";
        if (!programDirectory.empty()) {
            places = (fs::path(programDirectory) / "data").string() + ", " +
                     installedDataDirectory(programDirectory).string() + " or " + places;
        }
        return "the demo's data is missing: no " + places + " directory";
    }
    const std::string list = directory + kDataListName;
    std::ifstream in(list);
    if (!in) {
        const bool installed =
            !programDirectory.empty() &&
            fs::equivalent(directory, installedDataDirectory(programDirectory), ec);
        return installed ? "the demo's data is incomplete: " + list + " is missing" : "";
    }
    // Only whether each file is there: a tweaked varpile.txt is still whole.
    for (std::string name; std::getline(in, name);) {
        const std::string file = directory + name;
        if (!name.empty() && !fs::is_regular_file(file, ec)) {
            return "the demo's data is incomplete: " + file + " is missing";
        }
    }
    return "";
}

std::string programDirectory() {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
}

namespace {

bool hasDisplayVariable() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* v = std::getenv(name);
        if (v && *v) {
            return true;
        }
    }
    return false;
}

} // namespace

int runLumo(int argc, char** argv) {
    Options options = parseCommandLine(argc, argv);
    if (!options.error.empty()) {
        std::fprintf(stderr, "lumo: %s\n", options.error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(usageText(), stdout);
        return 0;
    }
    std::string simdError;
    if (!chooseSimdPath(std::getenv("LUMO_SIMD"), simdError)) {
        std::fprintf(stderr, "lumo: %s\n", simdError.c_str());
        return 2;
    }

    // Said before anything is loaded or written, rather than drawing a frame of
    // nothing or stopping half-way.
    const std::string program = programDirectory();
    const std::string data = findDataDirectory(program);
    if (std::string missing = missingData(data, program); !missing.empty()) {
        std::fprintf(stderr, "lumo: %s\n", missing.c_str());
        return 1;
    }

    // Headless frames are the picture's own 640 x 360 unless a size is given.
    const int width = options.width > 0 ? options.width : PictureLayout::kBaseWidth;
    const int height = options.width > 0 ? options.height : PictureLayout::kBaseHeight;
    if (options.frame) {
        return renderFrameCommand(data, options.frameSeconds, options.out, options.threads, width,
                                  height);
    }
    if (!options.captureDirectory.empty() || !options.video.empty()) {
        CaptureSettings capture;
        capture.directory = options.captureDirectory;
        capture.video = options.video;
        capture.fps = options.fps;
        capture.from = options.from;
        capture.to = options.to;
        capture.threads = options.threads;
        capture.width = width;
        capture.height = height;
        capture.pngLevel = options.pngLevel;
        capture.videoQuality = options.videoQuality;
        return captureCommand(data, capture);
    }
    if (options.bench) {
        BenchSettings bench;
        bench.threads = options.threadList;
        bench.frames = options.frames;
        bench.json = options.json;
        bench.from = options.from;
        bench.to = options.to;
        bench.width = width;
        bench.height = height;
        return benchCommand(data, bench);
    }

    // Said before any toolkit is asked, which would add its own complaints.
    if (!hasDisplayVariable()) {
        std::fprintf(stderr, "lumo: no display: DISPLAY is not set, nothing to show the demo on\n");
        return 1;
    }
    LauncherResults results;
    std::string whyNot;
    if (options.launcher) {
        if (!runLauncherDialog(results, whyNot)) {
            std::fprintf(stderr, "lumo: no display: %s\n", whyNot.c_str());
            return 1;
        }
        if (!results.startRequested) {
            return 0;
        }
    } else {
        // Without this check SDL would fall back to its offscreen driver and the
        // demo would play to nobody.
        if (!Framebuffer::SdlDisplay::videoAvailable(&whyNot)) {
            std::fprintf(stderr, "lumo: cannot show the demo: %s\n", whyNot.c_str());
            return 1;
        }
        results.startRequested = true;
        results.fullScreen = options.fullScreen;
        results.force720p = options.force720p;
        results.nativeResolution = options.native;
    }

    Application app;
    applyLauncherResults(results, app);
    if (options.width > 0) {
        app.windowWidth = options.width;
        app.windowHeight = options.height;
    }
    if (app.nativeResolution || (app.fullScreen && options.width > 0)) {
        int screenWidth = 0, screenHeight = 0;
        if (!Framebuffer::SdlDisplay::screenSize(screenWidth, screenHeight, &whyNot)) {
            std::fprintf(stderr, "lumo: cannot show the demo: %s\n", whyNot.c_str());
            return 1;
        }
        if (app.nativeResolution) {
            // Within the sizes the renderer is built for, the frame is the screen.
            app.windowWidth = std::clamp(screenWidth, kMinWidth, kMaxWidth);
            app.windowHeight = std::clamp(screenHeight, kMinHeight, kMaxHeight);
        } else if (options.width > screenWidth || options.height > screenHeight) {
            std::fprintf(stderr,
                         "lumo: --size %dx%d is larger than the %dx%d screen; full screen takes "
                         "sizes up to %dx%d\n",
                         options.width, options.height, screenWidth, screenHeight, screenWidth,
                         screenHeight);
            return 2;
        }
    }
    PlaySettings play;
    play.threads = options.threads;
    play.vsync = options.vsync;
    int status = demoMainLoop(app, data, play);
    app.display.releaseImplementation();
    return status;
}

} // namespace lumo
