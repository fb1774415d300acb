#pragma once
// The display on SDL2: a window whose client area is the frame size, an SDL
// renderer and a streaming XRGB8888 texture. The frame memory is the display's
// own 64-byte aligned block (pitch = width x pixel size), so worker threads can
// write it without any SDL lock; present uploads it and draws it stretched to
// the window with nearest filtering.
//
// Keys: Escape closes (through the listener's default keys), Alt+Enter switches
// between window and full screen, Alt+1 original size, Alt+2/4/8 zoom, Alt+C
// center, each only when offered (window_logic.h).

#include "display/display.h"

#include <memory>
#include <string>

namespace lumo::Framebuffer {

class SdlDisplay final : public DisplayInterface {
public:
    SdlDisplay();
    ~SdlDisplay() override;
    SdlDisplay(const SdlDisplay&) = delete;
    SdlDisplay& operator=(const SdlDisplay&) = delete;

    // Fails (with error()) when there is no real video output: with no DISPLAY,
    // SDL would silently fall back to its offscreen driver. An offscreen or dummy
    // driver is accepted only when SDL_VIDEODRIVER names it explicitly.
    bool open(const char* title, int width, int height, int output, int mode) override;
    void close() override;
    FrameDescriptor* lockFrame() override;
    void present() override;
    bool isOpen() const override;
    const char* error() const override;

    bool isFullscreen() const;
    int zoom() const; // 1, 2, 4, 8, or 0 after a resize by hand

    // Whether SDL video can show a window here; otherwise false with a one-line
    // reason. Initialises SDL's video subsystem for the check and releases it.
    static bool videoAvailable(std::string* reason);

private:
    struct State;
    std::unique_ptr<State> s_;
};

} // namespace lumo::Framebuffer
