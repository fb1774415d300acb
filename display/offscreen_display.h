#pragma once
// A display without a window, for tests and headless tools. Frames live in
// memory: lockFrame hands out the frame memory, present copies it into the
// presented frame. Events are queued by the caller and delivered, in order, at
// the next lockFrame, through the same rules as the window.

#include "display/events.h"
#include "display/frame_display.h"

#include <cstdint>
#include <deque>
#include <vector>

namespace lumo::Framebuffer {

class OffscreenDisplay final : public FrameDisplay {
public:
    OffscreenDisplay() = default;
    ~OffscreenDisplay() override;

    // Queued events, delivered at the next lockFrame. Keys are virtual keys.
    void queueKeyDown(int virtualKey, bool altHeld = false);
    void queueKeyUp(int virtualKey);
    void queueClose();
    void queueActivation(bool active);
    void queuePointerMove(float x, float y);
    void queueButton(MouseButton which, bool down, float x, float y);

    // Number of frames presented since open.
    long presentCount() const { return presents_; }
    // The last presented frame (height() rows of pitch() bytes), null before the
    // first; it stays readable after close, for tools that read it last.
    const std::uint8_t* presentedPixels() const;

private:
    struct QueuedEvent {
        enum class Kind { KeyDown, KeyUp, Close, Activation, Move, Button } kind;
        int key = 0;
        bool flag = false; // alt held, activation state or button down
        MouseButton button = MouseButton::Left;
        float x = 0.0f, y = 0.0f;
    };

    bool openOutput(const char* title, int output) override;
    void closeOutput() override;
    void switchOutput() override;
    bool deliverEvents() override;
    void showFrame() override;

    std::deque<QueuedEvent> queue_;
    std::vector<std::uint8_t> presented_;
    long presents_ = 0;
};

} // namespace lumo::Framebuffer
