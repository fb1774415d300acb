#pragma once
// A display without a window, for tests and headless tools. Frames live in
// memory: lockFrame hands out the frame memory, present copies it into the
// presented frame. Events are queued by the caller and delivered, in order, at
// the next lockFrame, through the same rules as the window.

#include "display/display.h"
#include "display/events.h"

#include <cstdint>
#include <memory>

namespace lumo::Framebuffer {

class OffscreenDisplay final : public DisplayInterface {
public:
    OffscreenDisplay();
    ~OffscreenDisplay() override;
    OffscreenDisplay(const OffscreenDisplay&) = delete;
    OffscreenDisplay& operator=(const OffscreenDisplay&) = delete;

    bool open(const char* title, int width, int height, int output, int mode) override;
    void close() override;
    FrameDescriptor* lockFrame() override;
    void present() override;
    bool isOpen() const override;
    const char* error() const override;

    // Queued events, delivered at the next lockFrame. Keys are virtual keys.
    void queueKeyDown(int virtualKey, bool altHeld = false);
    void queueKeyUp(int virtualKey);
    void queueClose();
    void queueActivation(bool active);
    void queuePointerMove(float x, float y);
    void queueButton(MouseButton which, bool down, float x, float y);

    // Geometry of the last opened frame; kept after close so the presented
    // frame stays readable.
    int width() const;
    int height() const;
    int format() const; // pixel format code, 0 before the first open
    int pitch() const;
    bool isFullscreen() const;
    bool isLocked() const;
    // Number of frames presented since open.
    long presentCount() const;
    // The last presented frame (height rows of pitch bytes), null before the first.
    const std::uint8_t* presentedPixels() const;

private:
    struct State;
    std::unique_ptr<State> s_;
};

} // namespace lumo::Framebuffer
