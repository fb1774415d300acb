#include "display/display.h"
#include "display/sdl_display.h"
#include "tests/display/recording_listener.h"

#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace lumo::Framebuffer;

namespace {

// A real window needs an X server; SDL would otherwise fall back to drawing
// into nothing. Returns an empty string when a window can be tested.
std::string whyNoWindow() {
    if (!std::getenv("DISPLAY") || !*std::getenv("DISPLAY"))
        return "no DISPLAY (run under xvfb-run)";
    if (std::getenv("SDL_VIDEODRIVER"))
        return "SDL_VIDEODRIVER is set";
    std::string reason;
    if (!SdlDisplay::videoAvailable(&reason))
        return reason;
    return {};
}

#define SKIP_WITHOUT_WINDOW()                                                                      \
    if (std::string why = whyNoWindow(); !why.empty())                                             \
    GTEST_SKIP() << why

// The window SDL made for the display (the only one in this process).
SDL_Window* onlyWindow() {
    for (Uint32 id = 1; id < 64; ++id)
        if (SDL_Window* w = SDL_GetWindowFromID(id))
            return w;
    return nullptr;
}

} // namespace

TEST(SdlWindow, OpensLocksPresentsAndReadsBack) {
    SKIP_WITHOUT_WINDOW();
    Display display(std::make_unique<SdlDisplay>());
    RecordingListener listener;
    display.setListener(&listener);
    ASSERT_TRUE(display.open("lumo test", 640, 480, OutputWindow, ModeTrueColor))
        << display.error();
    EXPECT_EQ(listener.calls, Lines{"opened"});
    EXPECT_TRUE(display.isOpen());

    SDL_Window* window = onlyWindow();
    ASSERT_NE(window, nullptr);
    int w = 0, h = 0;
    SDL_GetWindowSize(window, &w, &h);
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);

    std::vector<std::uint32_t> expected(640 * 480);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x)
            expected[y * 640 + x] =
                std::uint32_t((x * 255 / 639) << 16 | (y * 255 / 479) << 8 | ((x ^ y) & 255));
    for (int frame = 0; frame < 3; ++frame) {
        FrameDescriptor* fd = display.lockFrame();
        ASSERT_NE(fd, nullptr);
        EXPECT_EQ(fd->format, FormatXRGB8888);
        EXPECT_EQ(fd->pitch, 640 * 4);
        std::memcpy(fd->pixels, expected.data(), expected.size() * 4);
        display.present();
    }

    // Read back what the renderer drew; the X bits are not compared.
    SDL_Renderer* renderer = SDL_GetRenderer(window);
    ASSERT_NE(renderer, nullptr);
    std::vector<std::uint32_t> got(640 * 480);
    if (SDL_RenderReadPixels(renderer, nullptr, SDL_PIXELFORMAT_RGB888, got.data(), 640 * 4) != 0)
        GTEST_SKIP() << "renderer cannot read back: " << SDL_GetError();
    int mismatches = 0;
    for (std::size_t i = 0; i < got.size(); ++i)
        mismatches += (got[i] & 0xFFFFFF) != expected[i];
    EXPECT_EQ(mismatches, 0);

    display.close();
    EXPECT_FALSE(display.isOpen());
    EXPECT_EQ(display.lockFrame(), nullptr);
}

TEST(SdlWindow, FloatFramesAreConverted) {
    SKIP_WITHOUT_WINDOW();
    Display display(std::make_unique<SdlDisplay>());
    ASSERT_TRUE(display.open("lumo float", 64, 32, OutputWindow, ModeFloat)) << display.error();
    FrameDescriptor* fd = display.lockFrame();
    ASSERT_NE(fd, nullptr);
    EXPECT_EQ(fd->format, FormatXBGRFFFF);
    EXPECT_EQ(fd->pitch, 64 * 16);
    float* p = static_cast<float*>(fd->pixels);
    for (int i = 0; i < 64 * 32; ++i) {
        p[i * 4] = 0.5f;
        p[i * 4 + 1] = 1.0f;
        p[i * 4 + 2] = -1.0f;
    }
    display.present();
    SDL_Renderer* renderer = SDL_GetRenderer(onlyWindow());
    std::uint32_t pixel = 0;
    SDL_Rect one{10, 10, 1, 1};
    if (SDL_RenderReadPixels(renderer, &one, SDL_PIXELFORMAT_RGB888, &pixel, 4) != 0)
        GTEST_SKIP() << "renderer cannot read back: " << SDL_GetError();
    EXPECT_EQ(pixel & 0xFFFFFF, 0x80FF00u);
}

// With no X server SDL quietly picks its offscreen driver; the display must
// refuse instead of playing into nothing.
TEST(SdlDisplayHeadless, RefusesTheSilentOffscreenFallback) {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("SDL_VIDEODRIVER");
    SdlDisplay display;
    EXPECT_FALSE(display.open("t", 64, 48, OutputWindow, ModeTrueColor));
    EXPECT_NE(std::string(display.error()).find("no display"), std::string::npos)
        << display.error();
    EXPECT_FALSE(display.isOpen());
    EXPECT_EQ(display.lockFrame(), nullptr);
    std::string reason;
    EXPECT_FALSE(SdlDisplay::videoAvailable(&reason));
    EXPECT_NE(reason.find("no display"), std::string::npos);
}

// Asked for by name, the offscreen driver is fine: headless runs of the window
// code path (and this test) use it.
TEST(SdlDisplayHeadless, OffscreenDriverByRequest) {
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    SdlDisplay display;
    if (!display.open("t", 64, 48, OutputWindow, ModeTrueColor))
        GTEST_SKIP() << "SDL offscreen driver unavailable: " << display.error();
    for (int i = 0; i < 2; ++i) {
        FrameDescriptor* fd = display.lockFrame();
        ASSERT_NE(fd, nullptr);
        EXPECT_EQ(fd->pitch, 64 * 4);
        static_cast<std::uint32_t*>(fd->pixels)[64 * 48 - 1] = 0xFFFFFF;
        display.present();
    }
    EXPECT_TRUE(display.isOpen());
    // A frame too large for any texture is refused at open, not mid-run.
    EXPECT_FALSE(display.open("t", 20000, 20000, OutputWindow, ModeTrueColor));
    EXPECT_FALSE(display.isOpen());
}

namespace {

void pushKey(Uint32 type, SDL_Keycode sym, Uint16 mod, Uint8 repeat = 0) {
    SDL_Event e{};
    e.type = type;
    e.key.windowID = SDL_GetWindowID(onlyWindow());
    e.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.key.repeat = repeat;
    e.key.keysym.sym = sym;
    e.key.keysym.mod = mod;
    SDL_PushEvent(&e);
}

std::vector<std::string> keysOnly(const std::vector<std::string>& calls) {
    std::vector<std::string> keys;
    for (const std::string& c : calls)
        if (c.rfind("down", 0) == 0 || c.rfind("stroke", 0) == 0 || c.rfind("up", 0) == 0)
            keys.push_back(c);
    return keys;
}

} // namespace

// SDL events injected into the queue go through the window's own event path:
// key translation, Alt shortcuts, zoom, mouse scaling, close requests.
TEST(SdlWindow, EventsZoomAndFullScreenSwitch) {
    SKIP_WITHOUT_WINDOW();
    SDL_DisplayMode desktop;
    Display display(std::make_unique<SdlDisplay>());
    auto* sdl = static_cast<SdlDisplay*>(display.implementation());
    RecordingListener listener;
    listener.allowClose = false;
    display.setListener(&listener);
    ASSERT_TRUE(display.open("lumo events", 640, 480, OutputWindow, ModeTrueColor))
        << display.error();
    ASSERT_EQ(SDL_GetDesktopDisplayMode(0, &desktop), 0);
    // One frame: lock, which delivers the queued events, then present.
    auto frame = [&] {
        EXPECT_NE(display.lockFrame(), nullptr);
        display.present();
    };
    frame();
    listener.calls.clear();

    pushKey(SDL_KEYDOWN, SDLK_w, KMOD_NONE);
    pushKey(SDL_KEYDOWN, SDLK_w, KMOD_NONE, 1);
    pushKey(SDL_KEYUP, SDLK_w, KMOD_NONE);
    pushKey(SDL_KEYDOWN, SDLK_EQUALS, KMOD_NONE);
    frame();
    EXPECT_EQ(keysOnly(listener.calls),
              (std::vector<std::string>{"down 87", "stroke 87", "stroke 87", "up 87", "down 61",
                                        "stroke 61"}));

    // Alt+2 zooms when 2x the frame fits the screen (1280 x 960 on 1920 x 1080).
    bool zoomFits = 1280 < desktop.w && 960 < desktop.h;
    listener.calls.clear();
    pushKey(SDL_KEYDOWN, SDLK_2, KMOD_LALT);
    frame();
    EXPECT_TRUE(keysOnly(listener.calls).empty());
    int w = 0, h = 0;
    SDL_GetWindowSize(onlyWindow(), &w, &h);
    if (zoomFits) {
        EXPECT_EQ(w, 1280);
        EXPECT_EQ(h, 960);
        EXPECT_EQ(sdl->zoom(), 2);
        SDL_Event move{};
        move.type = SDL_MOUSEMOTION;
        move.motion.windowID = SDL_GetWindowID(onlyWindow());
        move.motion.x = 300;
        move.motion.y = 201;
        SDL_PushEvent(&move);
        ASSERT_NE(display.lockFrame(), nullptr);
        display.present();
        EXPECT_FLOAT_EQ(listener.lastMouse.x, 150.0f);
        EXPECT_FLOAT_EQ(listener.lastMouse.y, 100.5f);
    } else {
        EXPECT_EQ(w, 640);
    }
    // Alt+8 never fits a 1920 x 1080 screen: ignored.
    pushKey(SDL_KEYDOWN, SDLK_8, KMOD_LALT);
    frame();
    if (zoomFits) {
        EXPECT_EQ(sdl->zoom(), 2);
    }

    // A close request the listener refuses keeps the window.
    SDL_Event close{};
    close.type = SDL_WINDOWEVENT;
    close.window.event = SDL_WINDOWEVENT_CLOSE;
    close.window.windowID = SDL_GetWindowID(onlyWindow());
    SDL_PushEvent(&close);
    frame();
    EXPECT_TRUE(display.isOpen());

    // Alt+Enter is recorded and carried out at the next lock.
    pushKey(SDL_KEYDOWN, SDLK_RETURN, KMOD_LALT);
    frame();
    EXPECT_FALSE(sdl->isFullscreen());
    frame();
    EXPECT_TRUE(sdl->isFullscreen()) << display.error();
    EXPECT_TRUE(SDL_GetWindowFlags(onlyWindow()) & SDL_WINDOW_FULLSCREEN);
    pushKey(SDL_KEYDOWN, SDLK_RETURN, KMOD_RALT);
    frame();
    frame();
    EXPECT_FALSE(sdl->isFullscreen());
    SDL_GetWindowSize(onlyWindow(), &w, &h);
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);

    // Granted, the close ends the display after this frame.
    listener.allowClose = true;
    SDL_PushEvent(&close);
    frame();
    EXPECT_FALSE(display.isOpen());
    EXPECT_EQ(display.lockFrame(), nullptr);
}

TEST(SdlWindow, FullScreenModeSearchOnTheRealScreen) {
    SKIP_WITHOUT_WINDOW();
    Display display(std::make_unique<SdlDisplay>());
    forceFullscreenMode = 0;
    ASSERT_TRUE(display.open("lumo full", 640, 480, OutputFullscreen, ModeTrueColor))
        << display.error();
    EXPECT_TRUE(static_cast<SdlDisplay*>(display.implementation())->isFullscreen());
    ASSERT_NE(display.lockFrame(), nullptr);
    display.present();

    // Asked while the display holds SDL video open on the X server.
    bool has720 = false;
    for (int i = 0; i < SDL_GetNumDisplayModes(0); ++i) {
        SDL_DisplayMode m;
        if (SDL_GetDisplayMode(0, i, &m) == 0 && m.w == 1280 && m.h == 720)
            has720 = true;
    }
    forceFullscreenMode = 1;
    forcedModeWidth = 1280;
    forcedModeHeight = 720;
    bool opened = display.open("lumo 720p", 640, 360, OutputFullscreen, ModeTrueColor);
    EXPECT_EQ(opened, has720) << display.error();
    if (!opened) {
        EXPECT_STREQ(display.error(), "no 1280x720 full-screen display mode");
    }
    forceFullscreenMode = 0;
}
