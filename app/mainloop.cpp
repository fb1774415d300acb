#include "app/mainloop.h"

#include "app/application.h"
#include "app/demo.h"
#include "app/render_statistics.h"
#include "app/timeline.h"
#include "assets/mesh.h"
#include "assets/texture.h"
#include "audio/audio.h"
#include "display/timer.h"
#include "math/random.h"
#include "params/track.h"
#include "params/varpile.h"
#include "sys/threads.h"

#include <cstdio>
#include <memory>

namespace lumo {

FrameCheck checkFrame(const Framebuffer::FrameDescriptor& frame, int windowWidth) {
    FrameCheck c;
    c.notTrueColor = frame.format != 1;
    c.unexpectedStride = frame.pitch != windowWidth * 4;
    return c;
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
int playDemo(Application& app, const std::string& dataDirectory, int threads) {
    DemoSession demo(dataDirectory);
    std::unique_ptr<Framebuffer::TimerInterface> timer;
    AudioSession audio(demo);

    demo.loadVariables();
    app.freeCamera = false;
    MersenneTwister random(103458469);
    (void)random; // seeds the shared generator state
    app.gtn = 3.9f;
    sys::pinToFirstProcessor();

    demo.loadAssets();
    demo.createRenderer(threads);

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

    if (Framebuffer::forceFullscreenMode) {
        app.windowHeight = 360;
    }
    int status = 0;
    int output = app.fullScreen ? Framebuffer::OutputFullscreen : Framebuffer::OutputWindow;
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

        distance.advance(demo.tracks.speed, row, frameDelta);
        Canvas canvas{static_cast<uint32_t*>(frame->pixels), app.windowWidth, app.windowHeight};
        demo.renderFrame(row, now, distance.value(),
                         {app.freeCamera, app.cameraPosition, app.cameraAngles}, &canvas,
                         app.windowHeight);

        if (showStatistics > 0.0f) {
            if (statistics.frameDone(timer->time() - frameStart, now)) {
                std::fputs(renderStatisticsText(demo.renderer->statistics()).c_str(), stdout);
                std::printf("fps: %f\n\n", statistics.fps());
                std::fflush(stdout);
            }
        }
        app.display.present();
        audio.update();
    }
    return status;
}

} // namespace

int demoMainLoop(Application& app, const std::string& dataDirectory, int threads) {
    int status = playDemo(app, dataDirectory, threads);
    // What the releases said is out before the caller goes on.
    std::fflush(stdout);
    return status;
}

} // namespace lumo
