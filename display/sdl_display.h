#pragma once
// The display on SDL2: a window whose client area is the frame size, an SDL
// renderer and a streaming XRGB8888 texture. The frame memory is the display's
// own (FrameDisplay), so worker threads can write it without any SDL lock;
// present uploads it and draws it stretched to the window with nearest
// filtering.
//
// Keys: Escape closes (through the listener's default keys), Alt+Enter switches
// between window and full screen, Alt+1 sets the client area to the frame's own
// width x height, Alt+2/4/8 to that times two, four or eight, Alt+C centres the
// window; each only when offered (window_logic.h).

#include "display/frame_display.h"

#include <memory>
#include <string>

namespace lumo::Framebuffer {

class SdlDisplay final : public FrameDisplay {
public:
    // Opening fails (with error()) when there is no real video output: with no
    // DISPLAY, SDL would silently fall back to its offscreen driver. An offscreen
    // or dummy driver is accepted only when SDL_VIDEODRIVER names it explicitly.
    SdlDisplay();
    ~SdlDisplay() override;

    int zoom() const; // 1, 2, 4, 8, or 0 after a resize by hand

    void setVsync(bool on) override;
    double refreshRate() const override;
    bool presentsInStep() const override;
    bool minimized() const override;

    // Whether SDL video can show a window here; otherwise false with a one-line
    // reason. Initialises SDL's video subsystem for the check and releases it.
    static bool videoAvailable(std::string* reason);
    // The desktop's size on the first screen (false with a reason when there
    // is no video or the size is unknown).
    static bool screenSize(int& width, int& height, std::string* reason);

private:
    struct State;

    bool openOutput(const char* title, int output) override;
    void closeOutput() override;
    void switchOutput() override;
    bool deliverEvents() override;
    void showFrame() override;

    std::unique_ptr<State> s_;
};

} // namespace lumo::Framebuffer
