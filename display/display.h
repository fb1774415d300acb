#pragma once
// The framebuffer display library. Everything lives in lumo::Framebuffer.
//
// The program owns a Display, a thin facade that forwards every call to a
// platform implementation of DisplayInterface (SdlDisplay for a real window,
// OffscreenDisplay for tests and headless tools). Each frame the program locks
// the display's frame memory, writes pixels into it (worker threads may write
// their own rows between lockFrame and present) and presents it. Window events
// reach the program through a Listener, always on the main thread and always
// from inside lockFrame, where the implementation processes pending events.
//
// Output values for open: 0 or 1 a window, 2 full screen. Mode 0 asks for a
// 32-bit XRGB8888 frame (format 1); mode 1 for a four-float XBGRFFFF frame
// (format 9) that the display converts when it presents.

#include "display/converters.h"

#include <cstdint>
#include <memory>

namespace lumo::Framebuffer {

class Display;

// The output and mode arguments of open. Plain numbers, not an enum: open takes
// them as int (0 is a window too) and refuses any other value with a reason.
constexpr int OutputWindow = 1;
constexpr int OutputFullscreen = 2;
constexpr int ModeTrueColor = 0;
constexpr int ModeFloat = 1;

// Forced full-screen mode: written by the entry point before a display is opened
// and read by the full-screen mode search. With forceFullscreenMode = 1 only a
// mode of exactly forcedModeWidth x forcedModeHeight qualifies.
extern std::int32_t forceFullscreenMode;
extern std::int32_t forcedModeWidth;
extern std::int32_t forcedModeHeight;

// What lockFrame hands out: valid until the next present. One per display.
struct FrameDescriptor {
    int format = FormatNone; // FormatXRGB8888 (1) or FormatXBGRFFFF (9)
    void* pixels = nullptr;
    int pitch = 0; // bytes from one row to the next
};

// Mouse state passed to the listener; x and y are in frame pixels, so a window
// zoomed x2 reports half its client coordinates.
struct Mouse {
    std::uint8_t left = 0;
    std::uint8_t middle = 0;
    std::uint8_t right = 0;
    float x = 0.0f;
    float y = 0.0f;
};

// Receives window events. Key codes are the translated codes of keys.h (letters
// and digits as their upper-case ASCII codes, Escape 27, Enter 10, "=" 61).
class Listener {
public:
    virtual ~Listener() = default;
    // Asked after keyDown: true lets the display apply its default keys
    // (Escape closes the window).
    virtual bool handlesDefaultKeys() { return true; }
    // Once when a key goes down; auto-repeat does not call it again.
    virtual void keyDown(Display* /*display*/, int /*key*/) {}
    // On every key-down including auto-repeats, after keyDown on the first.
    virtual void keyStroke(Display* /*display*/, int /*key*/) {}
    virtual void keyUp(Display* /*display*/, int /*key*/) {}
    virtual void buttonDown(Display* /*display*/, const Mouse& /*mouse*/) {}
    virtual void buttonUp(Display* /*display*/, const Mouse& /*mouse*/) {}
    virtual void pointerMove(Display* /*display*/, const Mouse& /*mouse*/) {}
    virtual void activated(Display* /*display*/, bool /*active*/) {}
    virtual void opened(Display* /*display*/) {}
    // The user asked to close the window: true closes it.
    virtual bool closeRequested(Display* /*display*/) { return true; }
};

// A platform display. States: closed, open in a window, open full screen.
class DisplayInterface {
public:
    virtual ~DisplayInterface() = default;

    // Opens (closing first if open). False when the window or its presentation
    // path cannot be created; error() then says why.
    virtual bool open(const char* title, int width, int height, int output, int mode) = 0;
    virtual void close() = 0;
    // Null once the display has been closed (a granted close request marks it
    // closed; this call then closes it). Otherwise carries out a pending switch
    // between window and full screen, processes pending events and hands out
    // the frame memory.
    virtual FrameDescriptor* lockFrame() = 0;
    // Shows the locked frame stretched to the window; does nothing unless a
    // frame is locked.
    virtual void present() = 0;
    virtual bool isOpen() const = 0;

    // The listener is not owned; null means Escape and close requests just close.
    void setListener(Listener* listener) { listener_ = listener; }
    Listener* listener() const { return listener_; }
    // The facade passed to listener callbacks (set by Display).
    void setOwner(Display* owner) { owner_ = owner; }
    Display* owner() const { return owner_; }

    // One line describing the last failure of open, empty when there was none.
    virtual const char* error() const { return ""; }

    // Presenting in step with the display's refresh (on by default); off, a
    // present returns at once. Takes effect at the next open.
    virtual void setVsync(bool /*on*/) {}
    // The refresh rate of the display mode the output is on, in Hz; 0 when it
    // is unknown or there is no screen.
    virtual double refreshRate() const { return 0.0; }
    // True when presents were set up to wait for the refresh (they still may
    // not, where a compositor returns at once).
    virtual bool presentsInStep() const { return false; }
    // True while the window is minimised: nothing of a frame would be seen.
    virtual bool minimized() const { return false; }

protected:
    Listener* listener_ = nullptr;
    Display* owner_ = nullptr;
};

// The facade the program owns. Every call does nothing (false, null) while
// there is no implementation. Not copyable or movable: listener callbacks carry
// a pointer to it.
class Display {
public:
    Display() = default;
    explicit Display(std::unique_ptr<DisplayInterface> implementation);
    ~Display();
    Display(const Display&) = delete;
    Display& operator=(const Display&) = delete;

    // Registers an implementation, destroying (and so closing) any previous one.
    void setImplementation(std::unique_ptr<DisplayInterface> implementation);
    // Destroys the implementation, which closes its window.
    void releaseImplementation();
    DisplayInterface* implementation() const { return impl_.get(); }

    // On success the listener's opened is called.
    bool open(const char* title, int width, int height, int output, int mode);
    void close();
    void setListener(Listener* listener);
    FrameDescriptor* lockFrame();
    void present();
    bool isOpen() const;
    const char* error() const;
    void setVsync(bool on);
    double refreshRate() const;
    bool presentsInStep() const;
    bool minimized() const;

private:
    std::unique_ptr<DisplayInterface> impl_;
};

} // namespace lumo::Framebuffer
