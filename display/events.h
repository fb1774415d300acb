#pragma once
// The event rules shared by every display implementation: key marking, default
// keys, close requests, mouse record and capture. Implementations translate
// their platform events into these calls (on the main thread, inside lockFrame)
// and carry out what the calls return: FrameDisplay the close and the switch
// between window and full screen, the platform the window commands and the
// mouse capture.

#include "display/display.h"
#include "display/window_logic.h"

#include <array>

namespace lumo::Framebuffer {

enum class MouseButton { Left, Middle, Right };

struct KeyResult {
    bool closeWindow = false;      // Escape with default keys handled
    bool toggleFullscreen = false; // Alt+Enter
    // An Alt shortcut's window command, not yet checked as offered.
    WindowCommand command = WindowCommand::None;
};

class EventRouter {
public:
    explicit EventRouter(DisplayInterface& display) : display_(display) {}

    // A key-down message (auto-repeats included) for a virtual key.
    KeyResult keyDown(int virtualKey, bool altHeld);
    void keyUp(int virtualKey);
    // True when the window should close.
    bool closeRequest();
    void activation(bool active);
    // Positions in frame pixels.
    void pointerMove(float x, float y);
    // Returns +1 when the mouse should be captured (first button down), -1 when
    // released (last button up), 0 otherwise.
    int button(MouseButton which, bool down, float x, float y);

    // Forgets held keys and buttons (on open and close).
    void reset();
    bool isKeyDown(int virtualKey) const;
    const Mouse& mouse() const { return mouse_; }

private:
    DisplayInterface& display_;
    std::array<bool, 256> keysDown_{};
    Mouse mouse_;
};

} // namespace lumo::Framebuffer
