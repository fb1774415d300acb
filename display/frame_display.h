#pragma once
// What every display does the same way, whatever shows its frames: it checks
// open's arguments, owns the frame memory lockFrame hands out and runs each
// frame's life in one order. lockFrame first carries out what the previous
// frame's events asked for (a granted close ends the display there; a switch
// between window and full screen happens there, while no worker is writing),
// then delivers the pending events and hands out the frame; present shows the
// locked frame once.
//
// A platform supplies only its output: the window (or none), the switch, where
// its events come from and how a finished frame is shown.

#include "display/display.h"
#include "display/events.h"
#include "display/window_logic.h"
#include "sys/aligned.h"

#include <cstdint>
#include <string>

namespace lumo::Framebuffer {

// Largest frame side a display accepts; bigger requests are refused at open.
constexpr int kMaxFrameSide = 16384;

class FrameDisplay : public DisplayInterface {
public:
    ~FrameDisplay() override = default;
    FrameDisplay(const FrameDisplay&) = delete;
    FrameDisplay& operator=(const FrameDisplay&) = delete;

    bool open(const char* title, int width, int height, int output, int mode) final;
    void close() final;
    FrameDescriptor* lockFrame() final;
    void present() final;
    bool isOpen() const final;
    const char* error() const final;

    // Geometry of the last opened frame; kept after close, so what a display
    // presented last can still be read with it.
    int width() const { return width_; }
    int height() const { return height_; }
    int format() const { return descriptor_.format; } // pixel format code, 0 before the first open
    int pitch() const { return descriptor_.pitch; }
    // False once closed.
    bool isFullscreen() const { return fullscreen_; }
    bool isLocked() const { return locked_; }

protected:
    FrameDisplay() : router_(*this) {}

    // The platform's output. A platform's destructor must call close(): once
    // FrameDisplay's own destructor runs, these hooks no longer reach it.

    // Called by open once the arguments are checked and the frame memory is
    // allocated (zeroed, width() x height() pixels of format()). False, with the
    // reason given to fail(), when the output cannot be made; open then closes.
    virtual bool openOutput(const char* title, int output) = 0;
    // Releases what openOutput made, also after it failed part way; harmless
    // when nothing is open.
    virtual void closeOutput() = 0;
    // Switches between window and full screen; isFullscreen() tells from which.
    // A switch that fails keeps the display as it was (the reason goes to fail()).
    virtual void switchOutput() = 0;
    // Delivers the pending events, through deliverKeyDown, deliverCloseRequest
    // and router(). False when no frame can be handed out this time.
    virtual bool deliverEvents() = 0;
    // Shows the frame the program has just finished (frame()).
    virtual void showFrame() = 0;

    // A key-down through the event rules: Escape's close and Alt+Enter's switch
    // are noted for the next lockFrame. Returns the Alt shortcut's window command
    // for the platform to carry out, WindowCommand::None for other keys.
    WindowCommand deliverKeyDown(int virtualKey, bool altHeld);
    // A close request from the window system; granted, the display closes at the
    // next lockFrame.
    void deliverCloseRequest();
    EventRouter& router() { return router_; }
    bool closeMarked() const { return closeMarked_; }
    void setFullscreen(bool fullscreen) { fullscreen_ = fullscreen; }
    const AlignedVector<std::uint8_t>& frame() const { return frame_; }
    // Records why the output failed or a switch did not happen; returns false.
    bool fail(std::string reason);

private:
    EventRouter router_;
    // 64-byte aligned: the frame starts on a cache line, and so does every row
    // when the pitch is a multiple of 64 (640 pixels of either format).
    AlignedVector<std::uint8_t> frame_;
    FrameDescriptor descriptor_;
    int width_ = 0;
    int height_ = 0;
    bool open_ = false;
    bool closeMarked_ = false;
    bool locked_ = false;
    bool fullscreen_ = false;
    bool switchPending_ = false;
    std::string error_;
};

} // namespace lumo::Framebuffer
