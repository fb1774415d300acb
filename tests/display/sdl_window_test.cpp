#include "display/display.h"
#include "display/sdl_display.h"
#include "tests/display/recording_listener.h"

#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

using namespace lumo::Framebuffer;

namespace {

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

// Queues a key event as the window system would; the display reads only these fields.
void pushKey(Uint32 type, SDL_Keycode sym, Uint16 mod = KMOD_NONE) {
    SDL_Event e{};
    e.type = type;
    e.key.keysym.sym = sym;
    e.key.keysym.mod = mod;
    SDL_PushEvent(&e);
}

} // namespace

// Integer frames are shown as they are, float frames through the converter.
TEST(SdlWindow, OpensLocksPresentsAndReadsBack) {
    SKIP_WITHOUT_WINDOW();
    Display display(std::make_unique<SdlDisplay>());
    ASSERT_TRUE(display.open("lumo test", 640, 480, OutputWindow, ModeTrueColor))
        << display.error();
    int w = 0, h = 0;
    SDL_GetWindowSize(onlyWindow(), &w, &h);
    EXPECT_EQ(std::pair(w, h), std::pair(640, 480));

    std::vector<std::uint32_t> expected(640 * 480), got(640 * 480);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        expected[i] = std::uint32_t(i * 2654435761u) >> 8;
    }
    for (int frame = 0; frame < 3; ++frame) {
        FrameDescriptor* fd = display.lockFrame();
        ASSERT_NE(fd, nullptr);
        EXPECT_EQ(fd->format, FormatXRGB8888);
        EXPECT_EQ(fd->pitch, 640 * 4);
        std::memcpy(fd->pixels, expected.data(), expected.size() * 4);
        display.present();
    }
    // Read back what the renderer drew; the X bits are not compared.
    SDL_Renderer* renderer = SDL_GetRenderer(onlyWindow());
    if (SDL_RenderReadPixels(renderer, nullptr, SDL_PIXELFORMAT_RGB888, got.data(), 640 * 4) != 0) {
        GTEST_SKIP() << "renderer cannot read back: " << SDL_GetError();
    }
    for (auto& p : got) {
        p &= 0xFFFFFF;
    }
    EXPECT_TRUE(got == expected);

    ASSERT_TRUE(display.open("lumo float", 64, 32, OutputWindow, ModeFloat)) << display.error();
    FrameDescriptor* fd = display.lockFrame();
    ASSERT_NE(fd, nullptr);
    EXPECT_EQ(fd->format, FormatXBGRFFFF);
    EXPECT_EQ(fd->pitch, 64 * 16);
    const float rgb[3] = {0.5f, 1.0f, -1.0f};
    for (int i = 0; i < 64 * 32; ++i) {
        std::memcpy(static_cast<float*>(fd->pixels) + i * 4, rgb, sizeof rgb);
    }
    display.present();
    SDL_Rect one{10, 10, 1, 1};
    ASSERT_EQ(SDL_RenderReadPixels(SDL_GetRenderer(onlyWindow()), &one, SDL_PIXELFORMAT_RGB888,
                                   got.data(), 4),
              0);
    EXPECT_EQ(got[0] & 0xFFFFFF, 0x80FF00u);
    display.close();
    EXPECT_FALSE(display.isOpen());
    EXPECT_EQ(display.lockFrame(), nullptr);
}

// With no X server SDL quietly picks its offscreen driver; the display must
// refuse instead of playing into nothing. Asked for by name, that driver is fine.
TEST(SdlDisplayHeadless, RefusesTheSilentOffscreenFallbackButNotARequestedOne) {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("SDL_VIDEODRIVER");
    SdlDisplay display;
    EXPECT_FALSE(display.open("t", 64, 48, OutputWindow, ModeTrueColor));
    EXPECT_NE(std::string(display.error()).find("no display"), std::string::npos)
        << display.error();
    EXPECT_EQ(display.lockFrame(), nullptr);

    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    if (!display.open("t", 64, 48, OutputWindow, ModeTrueColor)) {
        GTEST_SKIP() << "SDL offscreen driver unavailable: " << display.error();
    }
    for (int i = 0; i < 2; ++i) {
        FrameDescriptor* fd = display.lockFrame();
        ASSERT_NE(fd, nullptr);
        static_cast<std::uint32_t*>(fd->pixels)[64 * 48 - 1] = 0xFFFFFF;
        display.present();
    }
    EXPECT_TRUE(display.isOpen());
    // An oversized frame is refused at open, not mid-run.
    EXPECT_FALSE(display.open("t", 20000, 20000, OutputWindow, ModeTrueColor));
    EXPECT_FALSE(display.isOpen());
}

// SDL events injected into the queue go through the window's own event path:
// key repeats, Alt shortcuts, zoom, mouse scaling, close requests.
TEST(SdlWindow, EventsZoomAndFullScreenSwitch) {
    SKIP_WITHOUT_WINDOW();
    Display display(std::make_unique<SdlDisplay>());
    auto* sdl = static_cast<SdlDisplay*>(display.implementation());
    RecordingListener listener;
    listener.allowClose = false;
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
    int w = 0, h = 0;
    SDL_GetWindowSize(onlyWindow(), &w, &h);
    EXPECT_EQ(std::pair(w, h), zoomFits ? std::pair(1280, 960) : std::pair(640, 480));
    if (zoomFits) {
        SDL_Event move{};
        move.type = SDL_MOUSEMOTION;
        move.motion.x = 300;
        move.motion.y = 201;
        SDL_PushEvent(&move);
        frame();
        EXPECT_FLOAT_EQ(listener.lastMouse.x, 150.0f);
        EXPECT_FLOAT_EQ(listener.lastMouse.y, 100.5f);
    }

    // Alt+Enter is not a key and is carried out at the next lock; switching back
    // restores the size.
    pushKey(SDL_KEYDOWN, SDLK_RETURN, KMOD_LALT);
    frame();
    EXPECT_FALSE(sdl->isFullscreen());
    EXPECT_TRUE(listener.calls.empty());
    frame();
    EXPECT_TRUE(SDL_GetWindowFlags(onlyWindow()) & SDL_WINDOW_FULLSCREEN) << display.error();
    pushKey(SDL_KEYDOWN, SDLK_RETURN, KMOD_RALT);
    frame();
    frame();
    EXPECT_FALSE(sdl->isFullscreen());
    SDL_GetWindowSize(onlyWindow(), &w, &h);
    EXPECT_EQ(std::pair(w, h), std::pair(640, 480));

    // A close request the listener refuses keeps the window; granted, it ends
    // the display after this frame.
    SDL_Event close{};
    close.type = SDL_WINDOWEVENT;
    close.window.event = SDL_WINDOWEVENT_CLOSE;
    SDL_PushEvent(&close);
    frame();
    EXPECT_TRUE(display.isOpen());
    listener.allowClose = true;
    SDL_PushEvent(&close);
    frame();
    EXPECT_FALSE(display.isOpen());
    EXPECT_EQ(display.lockFrame(), nullptr);
}

TEST(SdlWindow, FullScreenModeSearchOnTheRealScreen) {
    SKIP_WITHOUT_WINDOW();
    Display display(std::make_unique<SdlDisplay>());
    ASSERT_TRUE(display.open("lumo full", 640, 480, OutputFullscreen, ModeTrueColor))
        << display.error();
    EXPECT_TRUE(static_cast<SdlDisplay*>(display.implementation())->isFullscreen());
    ASSERT_NE(display.lockFrame(), nullptr);
    display.present();

    // A forced mode the screen lacks fails with a clear reason.
    forceFullscreenMode = 1;
    forcedModeWidth = 1281;
    forcedModeHeight = 719;
    EXPECT_FALSE(display.open("lumo forced", 640, 360, OutputFullscreen, ModeTrueColor));
    forceFullscreenMode = 0;
    EXPECT_STREQ(display.error(), "no 1281x719 full-screen display mode");
}
