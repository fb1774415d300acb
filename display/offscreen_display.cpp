#include "display/offscreen_display.h"

#include "display/converters.h"
#include "display/frame_memory.h"

#include <cstdio>
#include <deque>
#include <string>
#include <vector>

namespace lumo::Framebuffer {

namespace {

struct QueuedEvent {
    enum Kind { KeyDown, KeyUp, Close, Activation, Move, Button } kind;
    int key = 0;
    bool flag = false; // alt held, activation state or button down
    MouseButton button = MouseButton::Left;
    float x = 0.0f, y = 0.0f;
};

} // namespace

struct OffscreenDisplay::State {
    explicit State(OffscreenDisplay& display) : router(display) {}

    EventRouter router;
    std::deque<QueuedEvent> queue;
    FrameMemory frame;
    std::vector<std::uint8_t> presented;
    FrameDescriptor descriptor;
    int width = 0, height = 0;
    bool open = false;
    bool closeMarked = false;
    bool locked = false;
    bool fullscreen = false;
    bool switchPending = false;
    long presents = 0;
    std::string error;
};

OffscreenDisplay::OffscreenDisplay() : s_(std::make_unique<State>(*this)) {}

OffscreenDisplay::~OffscreenDisplay() {
    close();
}

bool OffscreenDisplay::open(const char* /*title*/, int width, int height, int output, int mode) {
    close();
    s_->error.clear();
    if (width <= 0 || height <= 0 || width > kMaxFrameSide || height > kMaxFrameSide) {
        s_->error = "frame size " + std::to_string(width) + "x" + std::to_string(height) +
                    " is out of range";
        return false;
    }
    if (output < 0 || output > OutputFullscreen) {
        s_->error = "unknown display output " + std::to_string(output);
        return false;
    }
    if (mode != ModeTrueColor && mode != ModeFloat) {
        s_->error = "unknown display mode " + std::to_string(mode);
        return false;
    }
    int format = mode == ModeFloat ? FormatXBGRFFFF : FormatXRGB8888;
    int pitch = width * pixelSize(format);
    if (!s_->frame.allocate(std::size_t(pitch) * std::size_t(height))) {
        s_->error = "cannot allocate the frame memory";
        return false;
    }
    s_->descriptor = {format, s_->frame.data(), pitch};
    s_->width = width;
    s_->height = height;
    s_->fullscreen = output == OutputFullscreen;
    s_->presented.clear();
    s_->presents = 0;
    s_->open = true;
    return true;
}

void OffscreenDisplay::close() {
    // The presented frame stays readable after close, for tools that read it last.
    s_->open = false;
    s_->closeMarked = false;
    s_->locked = false;
    s_->switchPending = false;
    s_->queue.clear();
    s_->router.reset();
    s_->frame.release();
    s_->descriptor.pixels = nullptr;
}

FrameDescriptor* OffscreenDisplay::lockFrame() {
    State& s = *s_;
    if (!s.open)
        return nullptr;
    if (s.closeMarked) {
        close();
        return nullptr;
    }
    if (s.switchPending) {
        s.switchPending = false;
        s.fullscreen = !s.fullscreen;
    }
    // A granted close ends the delivery: a closed window gets no further events.
    while (!s.queue.empty() && !s.closeMarked) {
        QueuedEvent e = s.queue.front();
        s.queue.pop_front();
        switch (e.kind) {
        case QueuedEvent::KeyDown: {
            KeyResult r = s.router.keyDown(e.key, e.flag);
            if (r.closeWindow)
                s.closeMarked = true;
            if (r.toggleFullscreen)
                s.switchPending = !s.switchPending;
            break;
        }
        case QueuedEvent::KeyUp:
            s.router.keyUp(e.key);
            break;
        case QueuedEvent::Close:
            if (s.router.closeRequest())
                s.closeMarked = true;
            break;
        case QueuedEvent::Activation:
            s.router.activation(e.flag);
            break;
        case QueuedEvent::Move:
            s.router.pointerMove(e.x, e.y);
            break;
        case QueuedEvent::Button:
            s.router.button(e.button, e.flag, e.x, e.y);
            break;
        }
    }
    s.locked = true;
    return &s.descriptor;
}

void OffscreenDisplay::present() {
    State& s = *s_;
    if (!s.locked)
        return;
    s.locked = false;
    s.presented.assign(s.frame.data(), s.frame.data() + s.frame.size());
    ++s.presents;
}

bool OffscreenDisplay::isOpen() const {
    return s_->open && !s_->closeMarked;
}

const char* OffscreenDisplay::error() const {
    return s_->error.c_str();
}

void OffscreenDisplay::queueKeyDown(int virtualKey, bool altHeld) {
    s_->queue.push_back({QueuedEvent::KeyDown, virtualKey, altHeld});
}
void OffscreenDisplay::queueKeyUp(int virtualKey) {
    s_->queue.push_back({QueuedEvent::KeyUp, virtualKey});
}
void OffscreenDisplay::queueClose() {
    s_->queue.push_back({QueuedEvent::Close});
}
void OffscreenDisplay::queueActivation(bool active) {
    s_->queue.push_back({QueuedEvent::Activation, 0, active});
}
void OffscreenDisplay::queuePointerMove(float x, float y) {
    s_->queue.push_back({QueuedEvent::Move, 0, false, MouseButton::Left, x, y});
}
void OffscreenDisplay::queueButton(MouseButton which, bool down, float x, float y) {
    s_->queue.push_back({QueuedEvent::Button, 0, down, which, x, y});
}

int OffscreenDisplay::width() const {
    return s_->width;
}
int OffscreenDisplay::height() const {
    return s_->height;
}
int OffscreenDisplay::format() const {
    return s_->descriptor.format;
}
int OffscreenDisplay::pitch() const {
    return s_->descriptor.pitch;
}
bool OffscreenDisplay::isFullscreen() const {
    return s_->open && s_->fullscreen;
}
bool OffscreenDisplay::isLocked() const {
    return s_->locked;
}
long OffscreenDisplay::presentCount() const {
    return s_->presents;
}
const std::uint8_t* OffscreenDisplay::presentedPixels() const {
    return s_->presented.empty() ? nullptr : s_->presented.data();
}

} // namespace lumo::Framebuffer
