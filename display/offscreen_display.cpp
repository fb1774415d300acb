#include "display/offscreen_display.h"

namespace lumo::Framebuffer {

OffscreenDisplay::~OffscreenDisplay() {
    close();
}

bool OffscreenDisplay::openOutput(const char* /*title*/, int output) {
    setFullscreen(output == OutputFullscreen);
    presented_.clear();
    presents_ = 0;
    return true;
}

void OffscreenDisplay::closeOutput() {
    // The presented frame stays: tools read it after the display has closed.
    queue_.clear();
}

void OffscreenDisplay::switchOutput() {
    setFullscreen(!isFullscreen());
}

bool OffscreenDisplay::deliverEvents() {
    // A granted close ends the delivery: a closed window gets no further events.
    while (!queue_.empty() && !closeMarked()) {
        QueuedEvent e = queue_.front();
        queue_.pop_front();
        switch (e.kind) {
        case QueuedEvent::Kind::KeyDown:
            // No window to resize or centre: shortcut commands have nothing to act on.
            deliverKeyDown(e.key, e.flag);
            break;
        case QueuedEvent::Kind::KeyUp:
            router().keyUp(e.key);
            break;
        case QueuedEvent::Kind::Close:
            deliverCloseRequest();
            break;
        case QueuedEvent::Kind::Activation:
            router().activation(e.flag);
            break;
        case QueuedEvent::Kind::Move:
            router().pointerMove(e.x, e.y);
            break;
        case QueuedEvent::Kind::Button:
            router().button(e.button, e.flag, e.x, e.y);
            break;
        }
    }
    return true;
}

void OffscreenDisplay::showFrame() {
    presented_.assign(frame().begin(), frame().end());
    ++presents_;
}

void OffscreenDisplay::queueKeyDown(int virtualKey, bool altHeld) {
    queue_.push_back({QueuedEvent::Kind::KeyDown, virtualKey, altHeld});
}

void OffscreenDisplay::queueKeyUp(int virtualKey) {
    queue_.push_back({QueuedEvent::Kind::KeyUp, virtualKey});
}

void OffscreenDisplay::queueClose() {
    queue_.push_back({QueuedEvent::Kind::Close});
}

void OffscreenDisplay::queueActivation(bool active) {
    queue_.push_back({QueuedEvent::Kind::Activation, 0, active});
}

void OffscreenDisplay::queuePointerMove(float x, float y) {
    queue_.push_back({QueuedEvent::Kind::Move, 0, false, MouseButton::Left, x, y});
}

void OffscreenDisplay::queueButton(MouseButton which, bool down, float x, float y) {
    queue_.push_back({QueuedEvent::Kind::Button, 0, down, which, x, y});
}

const std::uint8_t* OffscreenDisplay::presentedPixels() const {
    return presented_.empty() ? nullptr : presented_.data();
}

} // namespace lumo::Framebuffer
