#include "app/mainloop.h"

#include "render/simd.h"

#include "app/application.h"
#include "app/demo.h"
#include "app/pacing.h"
#include "app/render_statistics.h"
#include "app/timeline.h"
#include "assets/mesh.h"
#include "assets/texture.h"
#include "audio/audio.h"
#include "display/timer.h"
#include "math/random.h"
#include "math/statistics.h"
#include "params/track.h"
#include "params/varpile.h"
#include "render/simd.h"
#include "sys/threads.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

namespace lumo {

FrameCheck checkFrame(const Framebuffer::FrameDescriptor& frame, int windowWidth) {
    FrameCheck c;
    c.notTrueColor = frame.format != 1;
    c.unexpectedStride = frame.pitch != windowWidth * 4;
    return c;
}

FrameStatistics::FrameStatistics() {
    intervals_.reserve(4096);
}

void FrameStatistics::framePresented(double now) {
    if (lastPresent_ >= 0.0 && intervals_.size() < intervals_.capacity()) {
        intervals_.push_back(now - lastPresent_);
    }
    lastPresent_ = now;
}

std::string FrameStatistics::presentedLine(double now, double processSeconds, int processors) {
    const double span = now - periodStart_;
    const double use = span > 0.0 ? (processSeconds - periodProcessSeconds_) / span : 0.0;
    char line[200];
    std::snprintf(line, sizeof line,
                  "presented: %zu frames in %.1f s, interval median %.2f ms, 95th percentile "
                  "%.2f ms, processor use %.0f%% of %d, %s path\n",
                  intervals_.size(), span, 1e3 * median(intervals_),
                  1e3 * percentile(intervals_, 95.0), 100.0 * use / std::max(processors, 1),
                  processors, simdPathName(activeSimdPath()));
    intervals_.clear();
    periodStart_ = now;
    periodProcessSeconds_ = processSeconds;
    return line;
}

bool FrameStatistics::frameDone(double frameTime, double now) {
    averageFrameTime_ = averageFrameTime_ * 0.9 + frameTime * 0.1;
    if (now > lastPrint_ + 5.0) {
        lastPrint_ = now;
        return true;
    }
    return false;
}

namespace {

// The live run's sound and the timeline that follows it: the audio library,
// the music stream and the track set, made in that order. However the run
// ends, the destructor releases what was made: the tracks, then the music,
// then the library.
class AudioSession {
public:
    explicit AudioSession(DemoSession& demo) : demo_(demo) {}
    ~AudioSession() {
        demo_.releaseTracks();
        if (music_ != 0) {
            audioStreamFree(music_);
        }
        if (initialised_) {
            audioFree();
        }
    }
    AudioSession(const AudioSession&) = delete;
    AudioSession& operator=(const AudioSession&) = delete;

    bool init() {
        initialised_ = audioInit(audioDefaultDevice, 44100);
        return initialised_;
    }
    bool openMusic(const std::string& path) {
        music_ = audioStreamCreateFile(path.c_str(), 0, 0, audioStreamPrescan);
        return music_ != 0;
    }
    bool createTracks() { return demo_.createTracks(); }

    void play() {
        audioStart();
        audioChannelPlay(music_, false);
    }
    // The music's playback position.
    double seconds() const {
        uint64_t position = audioChannelGetPosition(music_, audioPositionBytes);
        return audioChannelBytes2Seconds(music_, position);
    }
    void update() { audioUpdate(0); }

private:
    DemoSession& demo_;
    AudioStream music_ = 0;
    bool initialised_ = false;
};

void sayNow(const char* line) {
    std::printf("%s", line);
    std::fflush(stdout);
}

// The stop order is the order of the declarations below, reversed: the audio
// session (tracks, music, audio library), the timer, then the demo session's
// renderer, buffers, mesh store, texture store and tweak variables. The
// display is the application's and goes after all of them.
int playDemo(Application& app, const std::string& dataDirectory, const PlaySettings& settings) {
    DemoSession demo(dataDirectory);
    std::unique_ptr<Framebuffer::TimerInterface> timer;
    AudioSession audio(demo);

    demo.loadVariables();
    app.freeCamera = false;
    MersenneTwister random(103458469);
    (void)random; // seeds the shared generator state
    app.gtn = 3.9f;
    sys::pinToFirstProcessor();

    if (Framebuffer::forceFullscreenMode) {
        app.windowHeight = 360;
    }
    demo.layout = layoutPicture(app.windowWidth, app.windowHeight);
    demo.loadAssets();
    demo.createRenderer(settings.threads);
    // A paced frame leaves most of its interval idle: the workers sleep then.
    demo.renderer->setPolling(!settings.vsync);

    if (!audio.init()) {
        sayNow("audio init error\n");
        return 1;
    }
    if (!audio.openMusic(dataDirectory + "j2.mp3")) {
        std::printf("error (%d) while creating stream\n", audioErrorCode());
        std::fflush(stdout);
        return 1;
    }
    if (!audio.createTracks()) {
        sayNow("track set failed, out of memory?");
        return 1;
    }

    int status = 0;
    int output = app.fullScreen ? Framebuffer::OutputFullscreen : Framebuffer::OutputWindow;
    app.display.setVsync(settings.vsync);
    if (!app.display.open("lumo ^_^", app.windowWidth, app.windowHeight, output,
                          Framebuffer::ModeTrueColor)) {
        // Said once here; the loop below then ends at once because nothing is open.
        std::printf("cannot open the display window: %s\n", app.display.error());
        std::fflush(stdout);
        status = 1;
    }
    app.display.setListener(&app);

    timer = std::make_unique<Framebuffer::SteadyTimer>();
    double now = timer->time(); // the frame's time, read at the start of each frame
    app.cameraPosition = vec4(0.0f, -32.0f, -160.0f, 0.0f);
    app.cameraAngles = vec4(0.0f, 0.0f, 0.0f, 0.0f);
    demo.prepareScenes();

    // The music starts only now, so loading time does not shift the timeline.
    audio.play();

    const float& showStatistics = demo.vars->get("show_statistics");
    FrameStatistics statistics;
    LiveDistance distance;
    FramePacer pacer(app.display.refreshRate(), app.display.presentsInStep());
    const int processors = int(sys::affinityProcessors().size());
    auto sleepUntil = [&](double when) {
        const double wait = when - timer->time();
        if (wait > 0.0) {
            std::this_thread::sleep_for(std::chrono::duration<double>(wait));
        }
    };
    while (app.display.isOpen()) {
        double frameStart = timer->time();
        now = timer->time();
        double frameDelta = timer->delta();
        double row = rowFromSeconds(audio.seconds());

        Framebuffer::FrameDescriptor* frame = app.display.lockFrame();
        if (!frame) {
            break;
        }
        FrameCheck check = checkFrame(*frame, app.windowWidth);
        if (check.notTrueColor) {
            std::printf("!!!! the display framebuffer is not truecolor !!!!\n");
        }
        if (check.unexpectedStride) {
            std::printf("!!!! unexpected display framebuffer stride !!!!\n");
        }
        if (!check.ok()) {
            // Rendering into a frame of another shape would write out of bounds:
            // stop here and release everything through the normal shutdown.
            std::fflush(stdout);
            status = 1;
            break;
        }
        if (app.display.minimized()) {
            // Nothing of a frame would be seen: draw none and rest. The music,
            // and so the clock, go on; the first frame back is the current one.
            audio.update();
            sleepUntil(timer->time() + pacer.interval() * 3.0);
            continue;
        }

        distance.advance(demo.tracks.speed, row, frameDelta);
        Canvas canvas{static_cast<uint32_t*>(frame->pixels), app.windowWidth, app.windowHeight};
        demo.renderFrame(row, now, distance.value(),
                         {app.freeCamera, app.cameraPosition, app.cameraAngles}, &canvas);

        if (showStatistics > 0.0f) {
            if (statistics.frameDone(timer->time() - frameStart, now)) {
                std::fputs(renderStatisticsText(demo.renderer->statistics()).c_str(), stdout);
                std::printf("fps: %f\n", statistics.fps());
                std::fputs(
                    statistics.presentedLine(timer->time(), sys::processCpuSeconds(), processors)
                        .c_str(),
                    stdout);
                std::printf("\n");
                std::fflush(stdout);
            }
        }
        const double presentStart = timer->time();
        app.display.present();
        const double presentEnd = timer->time();
        statistics.framePresented(presentEnd);
        audio.update();
        if (settings.vsync) {
            sleepUntil(pacer.framePresented(presentStart, presentEnd));
        }
    }
    return status;
}

} // namespace

int demoMainLoop(Application& app, const std::string& dataDirectory, const PlaySettings& settings) {
    int status = playDemo(app, dataDirectory, settings);
    // What the releases said is out before the caller goes on.
    std::fflush(stdout);
    return status;
}

} // namespace lumo
