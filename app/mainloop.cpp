#include "app/mainloop.h"

#include "app/application.h"
#include "app/demo.h"
#include "app/render_statistics.h"
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

double now = 0.0;
double frameDelta = 0.0;
float gtn = 3.9f;

double rowFromSeconds(double seconds) {
    return seconds * rowsPerSecond;
}

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

// The release after a start-up failure: everything made before the audio, then
// the audio library itself, which the loop's early exits would otherwise leave
// playing nothing on an open device.
void releaseLoaded(DemoSession& demo) {
    demo.releaseRenderer();
    demo.releaseAssets();
    demo.releaseVariables();
}

} // namespace

int demoMainLoop(Application& app, const std::string& dataDirectory, int threads) {
    DemoSession demo(dataDirectory);
    std::unique_ptr<Framebuffer::TimerInterface> timer;
    AudioStream music = 0;
    double distance = 0.0; // integral of the "speed" track over real time

    if (cameraKeys.empty()) {
        addDefaultCameraKeys();
    }
    demo.loadVariables();
    app.freeCamera = false;
    MersenneTwister random(103458469);
    (void)random; // seeds the shared generator state
    gtn = 3.9f;
    sys::pinToFirstProcessor();

    demo.loadAssets();
    demo.createRenderer(threads);

    if (!audioInit(audioDefaultDevice, 44100)) {
        std::printf("audio init error\n");
        std::fflush(stdout);
        releaseLoaded(demo);
        return 1;
    }
    std::string musicPath = dataDirectory + "j2.mp3";
    music = audioStreamCreateFile(musicPath.c_str(), 0, 0, audioStreamPrescan);
    if (music == 0) {
        std::printf("error (%d) while creating stream\n", audioErrorCode());
        std::fflush(stdout);
        audioFree();
        releaseLoaded(demo);
        return 1;
    }
    if (!demo.createTracks()) {
        std::printf("track set failed, out of memory?");
        std::fflush(stdout);
        audioStreamFree(music);
        audioFree();
        releaseLoaded(demo);
        return 1;
    }

    if (Framebuffer::forceFullscreenMode)
        app.windowHeight = 360;
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
    now = timer->time();
    app.cameraPosition = vec4(0.0f, -32.0f, -160.0f, 0.0f);
    app.cameraAngles = vec4(0.0f, 0.0f, 0.0f, 0.0f);
    demo.prepareScenes();

    // The music starts only now, so loading time does not shift the timeline.
    audioStart();
    audioChannelPlay(music, false);

    const float& showStatistics = demo.vars->get("show_statistics");
    FrameStatistics statistics;
    while (app.display.isOpen()) {
        double frameStart = timer->time();
        now = timer->time();
        frameDelta = timer->delta();
        uint64_t position = audioChannelGetPosition(music, audioPositionBytes);
        double row = rowFromSeconds(audioChannelBytes2Seconds(music, position));

        Framebuffer::FrameDescriptor* frame = app.display.lockFrame();
        if (!frame)
            break;
        FrameCheck check = checkFrame(*frame, app.windowWidth);
        if (check.notTrueColor)
            std::printf("!!!! the display framebuffer is not truecolor !!!!\n");
        if (check.unexpectedStride)
            std::printf("!!!! unexpected display framebuffer stride !!!!\n");
        if (!check.ok()) {
            // Rendering into a frame of another shape would write out of bounds:
            // stop here and release everything through the normal shutdown.
            std::fflush(stdout);
            status = 1;
            break;
        }

        distance += double(demo.tracks.speed->valueAt(row)) * frameDelta;
        Canvas canvas{static_cast<uint32_t*>(frame->pixels), app.windowWidth, app.windowHeight};
        demo.renderFrame(row, now, distance, {app.freeCamera, app.cameraPosition, app.cameraAngles},
                         &canvas, app.windowHeight);

        if (showStatistics > 0.0f) {
            if (statistics.frameDone(timer->time() - frameStart, now)) {
                std::fputs(renderStatisticsText(demo.renderer->statistics()).c_str(), stdout);
                std::printf("fps: %f\n\n", statistics.fps());
                std::fflush(stdout);
            }
        }
        app.display.present();
        audioUpdate(0);
    }

    demo.releaseTracks();
    audioStreamFree(music);
    audioFree();
    demo.scenes.greetingNames.clear();
    timer.reset();
    demo.releaseRenderer();
    demo.releaseAssets();
    demo.releaseVariables();
    std::fflush(stdout);
    return status;
}

} // namespace lumo
