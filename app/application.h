#pragma once
// The demo's owner of the display window and its listener. The entry point
// keeps one on its stack for the whole run; the main loop reads and writes its
// fields, the display calls its listener operations from inside lockFrame.

#include "display/display.h"
#include "math/vec.h"

#include <cstdint>
#include <memory>

namespace lumo {

class Application : public Framebuffer::Listener {
public:
    // Creates the window display (SdlDisplay) and registers it.
    Application();
    // With another display implementation (tests, headless tools).
    explicit Application(std::unique_ptr<Framebuffer::DisplayInterface> implementation);
    // Destroys the display.
    ~Application() override;
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Escape marks the demo as ending; the display's default keys close the
    // window (handlesDefaultKeys keeps answering true).
    void keyDown(Framebuffer::Display* display, int key) override;
    // The debug keys (free camera, counters) and their "addcam" line.
    void keyStroke(Framebuffer::Display* display, int key) override;
    // Always granted.
    bool closeRequested(Framebuffer::Display* display) override;

    vec4 cameraPosition{0.0f, 0.0f, 0.0f, 0.0f};
    vec4 cameraAngles{0.0f, 0.0f, 0.0f, 0.0f};
    bool freeCamera = false;
    // Debug counters, stepped and printed by debug keys; nothing else reads
    // them. duid starts from 0 once; the main loop sets gtn to 3.9 at its start.
    int32_t duid = 0;
    float gtn = 3.9f;
    int32_t renderWidth = 640;
    int32_t renderHeight = 360;
    int32_t windowWidth = 640;
    int32_t windowHeight = 480;
    bool fullScreen = false;
    // Full screen at the screen's own size: the window size is the screen's,
    // found when the demo starts.
    bool nativeResolution = false;
    Framebuffer::Display display;
    bool quitRequested = false;
};

} // namespace lumo
