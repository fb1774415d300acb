// The display through both implementations: the offscreen display runs the rules every display
// shares; the SDL window tests need an X server (test_display_window_xvfb runs them in a private
// Xvfb) and otherwise skip.

#include "display/display.h"
#include "display/keys.h"
#include "display/offscreen_display.h"
#include "display/sdl_display.h"
#include "display/timer.h"

#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

using namespace lumo::Framebuffer;

namespace {

using Lines = std::vector<std::string>;

// Records every callback as a short line.
class RecordingListener : public Listener {
public:
    bool defaultKeys = true, allowClose = true; // the answers to the two questions
    Lines calls;
    Display* lastDisplay = nullptr;
    Mouse lastMouse;

    bool handlesDefaultKeys() override {
        calls.push_back("defaults");
        return defaultKeys;
    }
    void keyDown(Display* d, int key) override { note(d, "down " + std::to_string(key)); }
    void keyStroke(Display* d, int key) override { note(d, "stroke " + std::to_string(key)); }
    void keyUp(Display* d, int key) override { note(d, "up " + std::to_string(key)); }
    void buttonDown(Display* d, const Mouse& m) override { lastMouse = m, note(d, "bdown"); }
    void pointerMove(Display* d, const Mouse& m) override { lastMouse = m, note(d, "move"); }
    void activated(Display* d, bool active) override { note(d, active ? "active" : "inactive"); }
    void opened(Display* d) override { note(d, "opened"); }
    bool closeRequested(Display* d) override {
        note(d, "close?");
        return allowClose;
    }

private:
    void note(Display* d, std::string line) {
        lastDisplay = d;
        calls.push_back(std::move(line));
    }
};

struct OffscreenFixture : ::testing::Test {
    Display display{std::make_unique<OffscreenDisplay>()};
    OffscreenDisplay* offscreen = static_cast<OffscreenDisplay*>(display.implementation());
    RecordingListener listener;

    // Opens a 64 x 48 window, with the recording listener unless told otherwise.
    void openWithListener(bool withListener = true) {
        ASSERT_TRUE(display.open("test", 64, 48, OutputWindow, ModeTrueColor));
        display.setListener(withListener ? &listener : nullptr);
        listener.calls.clear();
    }
};

// A real window needs an X server (the Xvfb test provides one); without it SDL
// would fall back to drawing into nothing.
#define SKIP_WITHOUT_WINDOW()                                                                      \
    if (std::string why; std::getenv("SDL_VIDEODRIVER") || !SdlDisplay::videoAvailable(&why)) {    \
        GTEST_SKIP() << (why.empty() ? "SDL_VIDEODRIVER is set" : why);                            \
    }

// The window SDL made for the display (the only one in this process).
SDL_Window* onlyWindow() {
    for (Uint32 id = 1; id < 64; ++id) {
        if (SDL_Window* w = SDL_GetWindowFromID(id)) {
            return w;
        }
    }
    return nullptr;
}

std::pair<int, int> windowSize() {
    int w = 0, h = 0;
    SDL_GetWindowSize(onlyWindow(), &w, &h);
    return {w, h};
}

// Queues a key event as the window system would; the display reads only these fields.
void pushKey(Uint32 type, SDL_Keycode sym, Uint16 mod = KMOD_NONE) {
    SDL_Event e{};
    e.type = type;
    e.key.keysym.sym = sym;
    e.key.keysym.mod = mod;
    SDL_PushEvent(&e);
}

} // namespace

// Bad parameters fail with a reason; a facade without an implementation fails every call.
TEST_F(OffscreenFixture, OpenCallsOpenedAndBadParametersFailWithAReason) {
    Display none;
    none.present();
    none.close();
    display.setListener(&listener);
    for (auto [w, h, output, mode] :
         {std::tuple<int, int, int, int>{64, -1, OutputWindow, ModeTrueColor},
          {100000, 48, OutputWindow, ModeTrueColor},
          {64, 48, 3, ModeTrueColor},
          {64, 48, OutputWindow, 2}}) {
        for (Display* d : {&none, &display}) {
            EXPECT_FALSE(d->open("t", w, h, output, mode)) << w << "x" << h;
            EXPECT_STRNE(d->error(), "");
            EXPECT_FALSE(d->isOpen());
            EXPECT_EQ(d->lockFrame(), nullptr);
        }
    }
    EXPECT_TRUE(listener.calls.empty());
    ASSERT_TRUE(display.open("test", 64, 48, OutputWindow, ModeTrueColor));
    EXPECT_EQ(listener.calls, Lines{"opened"});
    EXPECT_EQ(listener.lastDisplay, &display);
}

TEST_F(OffscreenFixture, LockAndPresent) {
    openWithListener(false);
    display.present(); // nothing locked: ignored
    EXPECT_EQ(offscreen->presentCount(), 0);

    FrameDescriptor* frame = display.lockFrame();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(std::pair(frame->format, frame->pitch), std::pair(FormatXRGB8888, 64 * 4));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(frame->pixels) % 64, 0u);
    auto* pixels = static_cast<std::uint32_t*>(frame->pixels);
    EXPECT_EQ(pixels[0], 0u); // starts black
    for (int i = 0; i < 64 * 48; ++i) {
        pixels[i] = std::uint32_t(i) * 2654435761u;
    }
    display.present();
    display.present(); // a second present without a lock does nothing
    EXPECT_EQ(offscreen->presentCount(), 1);
    ASSERT_NE(offscreen->presentedPixels(), nullptr);
    EXPECT_EQ(std::memcmp(offscreen->presentedPixels(), pixels, 64 * 48 * 4), 0);
    // Writing after present does not change what was presented, and the same
    // memory comes back with the next lock.
    pixels[5] = 0xDEADBEEF;
    EXPECT_NE(std::memcmp(offscreen->presentedPixels() + 20, &pixels[5], 4), 0);
    EXPECT_EQ(display.lockFrame()->pixels, pixels);

    // Reopening replaces the frame and drops the lock; float mode gives format nine.
    ASSERT_TRUE(display.open("test", 10, 3, OutputFullscreen, ModeFloat));
    EXPECT_FALSE(offscreen->isLocked());
    frame = display.lockFrame();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(std::pair(frame->format, frame->pitch), std::pair(FormatXBGRFFFF, 10 * 16));
    EXPECT_TRUE(offscreen->isFullscreen());

    // Alt+Enter belongs to the display: it switches at the lock after the one
    // that delivered it, and two before that lock cancel out.
    offscreen->queueKeyDown(VkReturn, true);
    display.lockFrame();
    EXPECT_TRUE(offscreen->isFullscreen());
    display.lockFrame();
    EXPECT_FALSE(offscreen->isFullscreen());
    offscreen->queueKeyDown(VkReturn, true);
    offscreen->queueKeyDown(VkReturn, true);
    display.lockFrame();
    display.lockFrame();
    EXPECT_FALSE(offscreen->isFullscreen());

    // The last presented frame and its geometry outlive the display.
    display.present();
    display.close();
    EXPECT_EQ(std::tuple(offscreen->width(), offscreen->height(), offscreen->pitch()),
              std::tuple(10, 3, 160));
    EXPECT_NE(offscreen->presentedPixels(), nullptr);
    EXPECT_EQ(display.lockFrame(), nullptr);
}

// A frame the memory cannot hold fails the open with a reason instead of ending the program.
// In a child process, the address space is limited to what is mapped so far plus 256 MiB, far
// less than the 4 GiB of the largest float frame.
TEST(OffscreenMemory, AFrameThatCannotBeAllocatedFailsTheOpen) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers reserve more address space than the limit leaves";
#endif
    auto child = [] {
        long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        const rlim_t bytes = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (rlim_t(256) << 20);
        const rlimit limit{bytes, bytes};
        if (setrlimit(RLIMIT_AS, &limit) != 0) {
            std::exit(2);
        }
        OffscreenDisplay display;
        const bool opened =
            display.open("t", kMaxFrameSide, kMaxFrameSide, OutputWindow, ModeFloat);
        std::exit(opened || std::string(display.error()) != "cannot allocate the frame memory");
    };
    EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
}

// Events arrive in order inside lockFrame only; a held key gives one down, repeated strokes and
// one up. Buttons capture the mouse.
TEST_F(OffscreenFixture, EventsArriveInOrderInsideLockFrameAndButtonsCapture) {
    openWithListener();
    offscreen->queueActivation(false);
    for (int i = 0; i < 3; ++i) {
        offscreen->queueKeyDown('W'); // auto-repeat
    }
    offscreen->queueKeyUp('W');
    offscreen->queueKeyDown(0xBB); // through the key table
    offscreen->queueKeyDown(300);  // out of range: ignored
    offscreen->queueKeyUp(-1);
    offscreen->queuePointerMove(10.5f, 20.0f);
    offscreen->queueButton(MouseButton::Right, true, 11.0f, 21.0f);
    offscreen->queueKeyDown(VkReturn, true); // Alt+Enter belongs to the display: not a key
    EXPECT_TRUE(listener.calls.empty());
    ASSERT_NE(display.lockFrame(), nullptr);
    EXPECT_EQ(listener.calls,
              (Lines{"inactive", "down 87", "defaults", "stroke 87", "stroke 87", "stroke 87",
                     "up 87", "down 61", "defaults", "stroke 61", "move", "bdown"}));
    EXPECT_EQ(listener.lastDisplay, &display);
    const Mouse& m = listener.lastMouse;
    EXPECT_EQ(std::tuple(int(m.left), int(m.right), m.x, m.y), std::tuple(0, 1, 11.0f, 21.0f));

    // The first button pressed captures the mouse (1), releasing the last releases it (-1).
    EventRouter router(*offscreen);
    EXPECT_EQ(router.button(MouseButton::Left, true, 0, 0), 1);
    EXPECT_EQ(router.button(MouseButton::Middle, true, 0, 0), 0);
    EXPECT_EQ(router.button(MouseButton::Left, false, 0, 0), 0);
    EXPECT_EQ(router.button(MouseButton::Middle, false, 0, 0), -1);
    EXPECT_EQ(router.button(MouseButton::Middle, false, 0, 0), 0); // a stray release
}

// Escape closes only with default keys, a close request only when granted; either
// way the frame in hand is still presented and the next lock finds the window gone.
TEST_F(OffscreenFixture, EscapeAndCloseRequests) {
    for (bool escape : {true, false}) {
        for (int who : {0, 1, 2}) { // no listener, one that agrees, one that refuses
            const bool closes = who < 2;
            openWithListener(who > 0);
            listener.defaultKeys = listener.allowClose = closes;
            if (escape) {
                offscreen->queueKeyDown(VkEscape);
            } else {
                offscreen->queueClose();
            }
            offscreen->queueKeyDown('A'); // after a close the window is gone: not delivered
            EXPECT_NE(display.lockFrame(), nullptr);
            display.present();
            EXPECT_EQ(display.isOpen(), !closes) << escape << who;
            EXPECT_EQ(display.lockFrame() != nullptr, !closes);
            if (who == 1) {
                const Lines want =
                    escape ? Lines{"down 27", "defaults", "stroke 27"} : Lines{"close?"};
                EXPECT_EQ(listener.calls, want);
            }
        }
    }
}

TEST(SteadyTimer, CountsForwardAndInvalidWaitsReturnAtOnce) {
    SteadyTimer timer;
    const double t0 = timer.time();
    timer.wait(0.002);
    EXPECT_GT(timer.time(), t0); // a 2 ms sleep moves a steady clock
    EXPECT_GT(timer.delta(), 0.0);
    // None of these may sleep or raise: a hang here times the test out.
    for (double bad : {-1.0, double(NAN), double(INFINITY), 1.0e300}) {
        timer.wait(bad);
    }
}

// Integer frames are shown as they are, float frames through the converter: here both hold
// the same picture (written by the converter from XRGB8888, byte v as the float v / 256), read
// back whole.
TEST(SdlWindow, OpensLocksPresentsAndReadsBack) {
    SKIP_WITHOUT_WINDOW();
    Display display(std::make_unique<SdlDisplay>());
    std::vector<std::uint32_t> expected(640 * 480), got(640 * 480);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        expected[i] = std::uint32_t(i * 2654435761u) >> 8;
    }
    for (int mode : {ModeTrueColor, ModeFloat}) {
        ASSERT_TRUE(display.open("lumo test", 640, 480, OutputWindow, mode)) << display.error();
        EXPECT_EQ(windowSize(), std::pair(640, 480));
        for (int frame = 0; frame < 3; ++frame) {
            FrameDescriptor* fd = display.lockFrame();
            ASSERT_NE(fd, nullptr);
            const int format = mode == ModeFloat ? FormatXBGRFFFF : FormatXRGB8888;
            EXPECT_EQ(std::pair(fd->format, fd->pitch), std::pair(format, 640 * pixelSize(format)));
            requestConverter(FormatXRGB8888, fd->format)
                ->convert(expected.data(), fd->pixels, int(expected.size()));
            display.present();
        }
        // Read back what the renderer drew; the X bits are not compared.
        SDL_Renderer* renderer = SDL_GetRenderer(onlyWindow());
        ASSERT_EQ(SDL_RenderReadPixels(renderer, nullptr, SDL_PIXELFORMAT_RGB888, got.data(), 2560),
                  0);
        auto rgb = [](std::uint32_t p) { return p & 0xFFFFFF; };
        EXPECT_TRUE(std::ranges::equal(got, expected, {}, rgb)) << "mode " << mode;
    }
}

// With no X server SDL quietly picks its offscreen driver; the display must
// refuse instead of playing into nothing. Asked for by name, that driver is fine.
TEST(SdlDisplayHeadless, RefusesTheSilentOffscreenFallbackButNotARequestedOne) {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("SDL_VIDEODRIVER");
    SdlDisplay display;
    EXPECT_FALSE(display.open("t", 64, 48, OutputWindow, ModeTrueColor));
    EXPECT_EQ(std::string(display.error()).rfind("no display", 0), 0u) << display.error();
    EXPECT_EQ(display.lockFrame(), nullptr);

    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    if (!display.open("t", 64, 48, OutputWindow, ModeTrueColor)) {
        GTEST_SKIP() << "SDL offscreen driver unavailable: " << display.error();
    }
    for (int i = 0; i < 2; ++i) {
        ASSERT_NE(display.lockFrame(), nullptr);
        display.present();
    }
    EXPECT_TRUE(display.isOpen());
}

// SDL events injected into the queue go through the window's own event path: key repeats, Alt
// shortcuts, zoom, mouse scaling, the switch to full screen and back, close requests.
TEST(SdlWindow, EventsZoomAndFullScreen) {
    SKIP_WITHOUT_WINDOW();
    Display display(std::make_unique<SdlDisplay>());
    auto* sdl = static_cast<SdlDisplay*>(display.implementation());
    RecordingListener listener;
    display.setListener(&listener);
    ASSERT_TRUE(display.open("lumo events", 640, 480, OutputWindow, ModeTrueColor))
        << display.error();
    // One frame: lock, which delivers the queued events, then present. Only key
    // lines (they hold a space) are kept: the X server may add focus events.
    auto frame = [&] {
        listener.calls.clear();
        EXPECT_NE(display.lockFrame(), nullptr);
        display.present();
        std::erase_if(listener.calls, [](auto& c) { return c.find(' ') == std::string::npos; });
    };
    frame();

    pushKey(SDL_KEYDOWN, SDLK_w);
    pushKey(SDL_KEYDOWN, SDLK_w); // auto-repeat
    pushKey(SDL_KEYUP, SDLK_w);
    frame();
    EXPECT_EQ(listener.calls, (Lines{"down 87", "stroke 87", "stroke 87", "up 87"}));

    // Alt+2 zooms when 2x the frame fits the screen (1280 x 960 on 1920 x 1080);
    // Alt+8 never fits and is ignored.
    SDL_DisplayMode desktop;
    ASSERT_EQ(SDL_GetDesktopDisplayMode(0, &desktop), 0);
    const bool zoomFits = 1280 < desktop.w && 960 < desktop.h;
    pushKey(SDL_KEYDOWN, SDLK_2, KMOD_LALT);
    pushKey(SDL_KEYDOWN, SDLK_8, KMOD_LALT);
    frame();
    EXPECT_TRUE(listener.calls.empty());
    EXPECT_EQ(windowSize(), zoomFits ? std::pair(1280, 960) : std::pair(640, 480));
    if (zoomFits) {
        SDL_Event move{};
        move.type = SDL_MOUSEMOTION;
        move.motion.x = 300;
        move.motion.y = 201;
        SDL_PushEvent(&move);
        frame();
        EXPECT_EQ(std::pair(listener.lastMouse.x, listener.lastMouse.y), std::pair(150.0f, 100.5f));
    }

    // Alt+Enter is carried out at the lock after the one that delivered it (the shared rule);
    // switching back restores the size.
    pushKey(SDL_KEYDOWN, SDLK_RETURN, KMOD_LALT);
    frame();
    frame();
    EXPECT_TRUE(SDL_GetWindowFlags(onlyWindow()) & SDL_WINDOW_FULLSCREEN) << display.error();
    pushKey(SDL_KEYDOWN, SDLK_RETURN, KMOD_RALT);
    frame();
    frame();
    EXPECT_FALSE(sdl->isFullscreen());
    EXPECT_EQ(windowSize(), std::pair(640, 480));

    // A granted close request ends the display after this frame (refusals are the shared
    // event rules, tested on the offscreen display).
    SDL_Event close{};
    close.type = SDL_WINDOWEVENT;
    close.window.event = SDL_WINDOWEVENT_CLOSE;
    SDL_PushEvent(&close);
    frame();
    EXPECT_FALSE(display.isOpen());
    EXPECT_EQ(display.lockFrame(), nullptr);

    // Full screen at open takes the smallest mode that holds the frame; a forced mode the
    // screen lacks fails with a clear reason.
    ASSERT_TRUE(display.open("lumo full", 640, 480, OutputFullscreen, ModeTrueColor))
        << display.error();
    EXPECT_TRUE(sdl->isFullscreen());
    ASSERT_NE(display.lockFrame(), nullptr);
    display.present();
    forceFullscreenMode = 1;
    forcedModeWidth = 1281;
    forcedModeHeight = 719;
    EXPECT_FALSE(display.open("lumo forced", 640, 360, OutputFullscreen, ModeTrueColor));
    forceFullscreenMode = 0;
    EXPECT_STREQ(display.error(), "no 1281x719 full-screen display mode");
}
