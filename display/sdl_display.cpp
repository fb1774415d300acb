#include "display/sdl_display.h"

#include "display/converters.h"
#include "display/keys.h"
#include "display/window_logic.h"

#include <SDL2/SDL.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define LUMO_HAVE_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/lsan_interface.h>
#define LUMO_HAVE_LSAN 1
#endif
#endif

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace lumo::Framebuffer {

namespace {

// Under the leak checker: ignores what system libraries allocate while SDL
// starts them (D-Bus buffers, Mesa's GLX and EGL set-up, kept until exit by
// design and, once their modules are unloaded, impossible to suppress by
// name). Only wraps calls into SDL; our own allocations stay checked.
struct ForeignAllocations {
    ForeignAllocations() {
#ifdef LUMO_HAVE_LSAN
        __lsan_disable();
#endif
    }
    ~ForeignAllocations() {
#ifdef LUMO_HAVE_LSAN
        __lsan_enable();
#endif
    }
    ForeignAllocations(const ForeignAllocations&) = delete;
    ForeignAllocations& operator=(const ForeignAllocations&) = delete;
};

// SDL's offscreen and dummy drivers show nothing. SDL picks one by itself when
// no X server is reachable, so a window "opens" into nothing unless we refuse.
bool isVirtualDriver(const char* driver) {
    return driver && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0);
}

bool driverRequested(const char* driver) {
    const char* requested = std::getenv("SDL_VIDEODRIVER");
    return requested && driver && std::strstr(requested, driver) != nullptr;
}

int initVideoSubsystem() {
    ForeignAllocations foreign;
    return SDL_InitSubSystem(SDL_INIT_VIDEO);
}

// Initialises SDL video; false with a reason when it cannot show a window.
bool initVideo(std::string& reason) {
    // The window close button is a close request for the listener to answer,
    // not an SDL_QUIT; SDL_QUIT then only comes from SIGINT or SIGTERM.
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "nearest");
    // With DISPLAY set and no driver chosen by the user, ask for X11 by name.
    // Left to probe on its own, SDL sometimes (often on a loaded Xvfb) passes
    // over X11, tries Wayland and lands on offscreen.
    const char* requested = std::getenv("SDL_VIDEODRIVER");
    const char* x = std::getenv("DISPLAY");
    bool pinX11 = (!requested || !*requested) && x && *x && !SDL_WasInit(SDL_INIT_VIDEO);
    if (pinX11) {
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
    }
    bool up = false;
    for (int attempt = 0; attempt < (pinX11 ? 3 : 1) && !up; ++attempt) {
        if (attempt > 0) {
            SDL_Delay(100);
        }
        up = initVideoSubsystem() == 0;
    }
    if (pinX11) {
        SDL_ResetHint(SDL_HINT_VIDEODRIVER);
    }
    if (!up) {
        reason = pinX11 ? std::string("no display: cannot use X display \"") + x +
                              "\": " + SDL_GetError()
                        : std::string("no display: ") + SDL_GetError();
        return false;
    }
    const char* driver = SDL_GetCurrentVideoDriver();
    if (isVirtualDriver(driver) && !driverRequested(driver)) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        reason = std::string("no display: SDL found no window system (video driver \"") + driver +
                 "\"); is DISPLAY set?";
        return false;
    }
    return true;
}

} // namespace

// The SDL side of the display: what SDL made for it and where the window is.
// Nested in SdlDisplay, so it reaches the frame and the event rules through
// the display it belongs to.
struct SdlDisplay::State {
    explicit State(SdlDisplay& owner) : display(owner) {}

    SdlDisplay& display;
    bool videoUp = false;
    SDL_Window* window = nullptr;
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* texture = nullptr;
    std::vector<std::uint32_t> staging; // XRGB8888 copy of a float frame

    bool vsync = true;
    bool inStep = false; // the renderer presents in step with the refresh
    bool captured = false;
    bool centred = true;
    int zoom = 1;
    // Where we last put the window, to tell our own moves and resizes from the user's.
    WindowRect placed;

    bool createPresentation();
    void destroyPresentation();
    bool enterFullscreen();
    void leaveFullscreen();
    WindowState windowState() const;
    void place(const WindowRect& rect);
    void runCommand(WindowCommand command);
    void handle(const SDL_Event& e);
    float frameX(int x) const;
    float frameY(int y) const;
};

bool SdlDisplay::State::createPresentation() {
    ForeignAllocations foreign;
    // A present in step with the refresh needs a refresh to step with: where the
    // mode does not know its rate (a virtual X server), presents are left
    // unpaced and the caller paces itself.
    const bool paced = vsync && display.refreshRate() > 0.0;
    renderer = SDL_CreateRenderer(window, -1, paced ? SDL_RENDERER_PRESENTVSYNC : 0);
    if (!renderer) {
        return display.fail(std::string("cannot create an SDL renderer: ") + SDL_GetError());
    }
    SDL_RendererInfo info;
    inStep =
        SDL_GetRendererInfo(renderer, &info) == 0 && (info.flags & SDL_RENDERER_PRESENTVSYNC) != 0;
    texture = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING,
                                display.width(), display.height());
    if (!texture) {
        return display.fail(std::string("cannot create the frame texture: ") + SDL_GetError());
    }
    return true;
}

void SdlDisplay::State::destroyPresentation() {
    ForeignAllocations foreign;
    if (texture) {
        SDL_DestroyTexture(texture);
    }
    if (renderer) {
        SDL_DestroyRenderer(renderer);
    }
    texture = nullptr;
    renderer = nullptr;
}

WindowState SdlDisplay::State::windowState() const {
    WindowState state;
    Uint32 flags = SDL_GetWindowFlags(window);
    state.fullscreen = display.isFullscreen();
    state.minimized = (flags & SDL_WINDOW_MINIMIZED) != 0;
    state.maximized = (flags & SDL_WINDOW_MAXIMIZED) != 0;
    state.centred = centred;
    state.frameWidth = display.width();
    state.frameHeight = display.height();
    SDL_DisplayMode desktop;
    int index = std::max(0, SDL_GetWindowDisplayIndex(window));
    if (SDL_GetDesktopDisplayMode(index, &desktop) == 0) {
        state.screenWidth = desktop.w;
        state.screenHeight = desktop.h;
    }
    return state;
}

// Full screen takes the smallest display mode that holds the frame (exactly the
// forced mode when one is set). SDL lists modes from the largest and fastest
// down; reversed, the list runs smallest first like an adapter's enumeration,
// so "the last of equal size" is the fastest refresh rate of that size.
bool SdlDisplay::State::enterFullscreen() {
    int width = display.width(), height = display.height();
    int index = std::max(0, SDL_GetWindowDisplayIndex(window));
    std::vector<SDL_DisplayMode> sdlModes;
    int count = SDL_GetNumDisplayModes(index);
    for (int i = 0; i < count; ++i) {
        SDL_DisplayMode m;
        if (SDL_GetDisplayMode(index, i, &m) == 0 && SDL_BITSPERPIXEL(m.format) >= 24) {
            sdlModes.push_back(m);
        }
    }
    std::reverse(sdlModes.begin(), sdlModes.end());
    std::vector<DisplayMode> modes;
    for (const SDL_DisplayMode& m : sdlModes) {
        modes.push_back({m.w, m.h, m.refresh_rate});
    }
    int chosen = chooseFullscreenMode(modes, width, height);
    if (chosen < 0) {
        if (forceFullscreenMode == 1) {
            return display.fail("no " + std::to_string(forcedModeWidth) + "x" +
                                std::to_string(forcedModeHeight) + " full-screen display mode");
        }
        return display.fail("no full-screen display mode of at least " + std::to_string(width) +
                            "x" + std::to_string(height));
    }
    SDL_DisplayMode mode = sdlModes[chosen];
    if (SDL_SetWindowDisplayMode(window, &mode) != 0 ||
        SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN) != 0) {
        display.fail(std::string("cannot switch to full screen: ") + SDL_GetError());
        SDL_SetWindowFullscreen(window, 0);
        return false;
    }
    display.setFullscreen(true);
    SDL_ShowCursor(SDL_DISABLE);
    return true;
}

void SdlDisplay::State::leaveFullscreen() {
    SDL_SetWindowFullscreen(window, 0);
    display.setFullscreen(false);
    SDL_ShowCursor(SDL_ENABLE);
    WindowState state = windowState();
    const WindowRect size =
        fittedSize(state.screenWidth, state.screenHeight, display.width(), display.height());
    place(centredRect(state.screenWidth, state.screenHeight, size.width, size.height));
    zoom = 1;
    centred = true;
}

void SdlDisplay::State::place(const WindowRect& rect) {
    placed = rect;
    SDL_SetWindowSize(window, rect.width, rect.height);
    SDL_SetWindowPosition(window, rect.x, rect.y);
}

void SdlDisplay::State::runCommand(WindowCommand command) {
    if (!isOffered(windowState(), command)) {
        return;
    }
    if (int k = zoomOf(command)) {
        WindowRect current;
        SDL_GetWindowPosition(window, &current.x, &current.y);
        SDL_GetWindowSize(window, &current.width, &current.height);
        // Zoom 1 of a frame larger than the screen is the largest that fits.
        const WindowState state = windowState();
        const WindowRect one =
            fittedSize(state.screenWidth, state.screenHeight, display.width(), display.height());
        place(k == 1 ? zoomedRect(current, one.width, one.height, 1)
                     : zoomedRect(current, display.width(), display.height(), k));
        // Our own move: the centred state stays as it was (the centre is kept).
        zoom = k;
    } else if (command == WindowCommand::Center) {
        int w, h;
        SDL_GetWindowSize(window, &w, &h);
        WindowState state = windowState();
        place(centredRect(state.screenWidth, state.screenHeight, w, h));
        centred = true;
    }
}

float SdlDisplay::State::frameX(int x) const {
    int w = 0, h = 0;
    SDL_GetWindowSize(window, &w, &h);
    return toFramePixels(x, display.width(), w);
}

float SdlDisplay::State::frameY(int y) const {
    int w = 0, h = 0;
    SDL_GetWindowSize(window, &w, &h);
    return toFramePixels(y, display.height(), h);
}

void SdlDisplay::State::handle(const SDL_Event& e) {
    EventRouter& router = display.router();
    switch (e.type) {
    case SDL_KEYDOWN: {
        int vk = virtualKeyFromSdl(e.key.keysym.sym);
        if (vk < 0) {
            break;
        }
        bool alt = (e.key.keysym.mod & KMOD_ALT) != 0;
        WindowCommand command = display.deliverKeyDown(vk, alt);
        if (command != WindowCommand::None) {
            runCommand(command);
        }
        break;
    }
    case SDL_KEYUP: {
        int vk = virtualKeyFromSdl(e.key.keysym.sym);
        if (vk >= 0) {
            router.keyUp(vk);
        }
        break;
    }
    case SDL_QUIT:
        display.deliverCloseRequest();
        break;
    case SDL_WINDOWEVENT:
        switch (e.window.event) {
        case SDL_WINDOWEVENT_CLOSE:
            display.deliverCloseRequest();
            break;
        case SDL_WINDOWEVENT_FOCUS_GAINED:
            router.activation(true);
            break;
        case SDL_WINDOWEVENT_FOCUS_LOST:
            router.activation(false);
            break;
        case SDL_WINDOWEVENT_MOVED:
            if (!display.isFullscreen() &&
                (e.window.data1 != placed.x || e.window.data2 != placed.y)) {
                centred = false;
                placed.x = e.window.data1;
                placed.y = e.window.data2;
            }
            break;
        case SDL_WINDOWEVENT_RESIZED:
            if (!display.isFullscreen() &&
                (e.window.data1 != placed.width || e.window.data2 != placed.height)) {
                zoom = 0;
                placed.width = e.window.data1;
                placed.height = e.window.data2;
            }
            break;
        default:
            break;
        }
        break;
    case SDL_MOUSEMOTION:
        router.pointerMove(frameX(e.motion.x), frameY(e.motion.y));
        break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
        MouseButton which;
        if (e.button.button == SDL_BUTTON_LEFT) {
            which = MouseButton::Left;
        } else if (e.button.button == SDL_BUTTON_MIDDLE) {
            which = MouseButton::Middle;
        } else if (e.button.button == SDL_BUTTON_RIGHT) {
            which = MouseButton::Right;
        } else {
            break;
        }
        int capture = router.button(which, e.type == SDL_MOUSEBUTTONDOWN, frameX(e.button.x),
                                    frameY(e.button.y));
        // Capture keeps the button-up coming when it is released outside the window.
        if (capture > 0 && SDL_CaptureMouse(SDL_TRUE) == 0) {
            captured = true;
        } else if (capture < 0 && captured) {
            SDL_CaptureMouse(SDL_FALSE);
            captured = false;
        }
        break;
    }
    default:
        break;
    }
}

SdlDisplay::SdlDisplay() : s_(std::make_unique<State>(*this)) {}

SdlDisplay::~SdlDisplay() {
    close();
}

bool SdlDisplay::openOutput(const char* title, int output) {
    State& s = *s_;
    std::string reason;
    if (!initVideo(reason)) {
        return fail(reason);
    }
    s.videoUp = true;

    SDL_DisplayMode desktop{};
    SDL_GetDesktopDisplayMode(0, &desktop);
    const WindowRect size = fittedSize(desktop.w, desktop.h, width(), height());
    WindowRect rect = centredRect(desktop.w, desktop.h, size.width, size.height);
    {
        ForeignAllocations foreign;
        s.window = SDL_CreateWindow(title ? title : "", rect.x, rect.y, rect.width, rect.height,
                                    SDL_WINDOW_RESIZABLE | SDL_WINDOW_HIDDEN);
    }
    if (!s.window) {
        return fail(std::string("cannot create a window: ") + SDL_GetError());
    }
    s.placed = rect;
    if (!s.createPresentation() || (output == OutputFullscreen && !s.enterFullscreen())) {
        return false;
    }
    if (format() != FormatXRGB8888) {
        try {
            s.staging.assign(std::size_t(width()) * std::size_t(height()), 0);
        } catch (const std::bad_alloc&) {
            return fail("cannot allocate the frame memory");
        }
    }

    ForeignAllocations foreign;
    SDL_ShowWindow(s.window);
    SDL_RaiseWindow(s.window);
    // Black until the first frame arrives.
    SDL_SetRenderDrawColor(s.renderer, 0, 0, 0, 255);
    SDL_RenderClear(s.renderer);
    SDL_RenderPresent(s.renderer);
    s.zoom = 1;
    s.centred = true;
    return true;
}

void SdlDisplay::closeOutput() {
    State& s = *s_;
    if (s.captured) {
        SDL_CaptureMouse(SDL_FALSE);
    }
    s.captured = false;
    if (isFullscreen()) {
        SDL_ShowCursor(SDL_ENABLE);
    }
    s.destroyPresentation();
    if (s.window) {
        SDL_DestroyWindow(s.window);
    }
    s.window = nullptr;
    if (s.videoUp) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }
    s.videoUp = false;
    std::vector<std::uint32_t>().swap(s.staging);
}

void SdlDisplay::switchOutput() {
    if (isFullscreen()) {
        s_->leaveFullscreen();
    } else {
        s_->enterFullscreen();
    }
}

bool SdlDisplay::deliverEvents() {
    State& s = *s_;
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
        if (e.type == SDL_RENDER_DEVICE_RESET) {
            s.destroyPresentation();
            if (!s.createPresentation()) {
                return false;
            }
        }
        s.handle(e);
        std::this_thread::yield();
    }
    if (!s.renderer || !s.texture) {
        s.destroyPresentation();
        if (!s.createPresentation()) {
            return false;
        }
    }
    return true;
}

void SdlDisplay::showFrame() {
    State& s = *s_;
    const void* pixels = frame().data();
    int rowBytes = pitch();
    if (format() != FormatXRGB8888) {
        Converter* converter = requestConverter(format(), FormatXRGB8888);
        converter->begin();
        converter->convert(frame().data(), s.staging.data(), width() * height());
        pixels = s.staging.data();
        rowBytes = width() * 4;
    }
    ForeignAllocations foreign;
    SDL_UpdateTexture(s.texture, nullptr, pixels, rowBytes);
    SDL_RenderClear(s.renderer);
    SDL_RenderCopy(s.renderer, s.texture, nullptr, nullptr);
    SDL_RenderPresent(s.renderer);
}

int SdlDisplay::zoom() const {
    return s_->zoom;
}

bool SdlDisplay::screenSize(int& width, int& height, std::string* reason) {
    std::string why;
    if (!initVideo(why)) {
        if (reason) {
            *reason = why;
        }
        return false;
    }
    SDL_DisplayMode desktop{};
    const bool known =
        SDL_GetDesktopDisplayMode(0, &desktop) == 0 && desktop.w > 0 && desktop.h > 0;
    if (known) {
        width = desktop.w;
        height = desktop.h;
    } else if (reason) {
        *reason = std::string("the screen's size is unknown: ") + SDL_GetError();
    }
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return known;
}

bool SdlDisplay::videoAvailable(std::string* reason) {
    std::string why;
    if (!initVideo(why)) {
        if (reason) {
            *reason = why;
        }
        return false;
    }
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return true;
}

void SdlDisplay::setVsync(bool on) {
    s_->vsync = on;
}

double SdlDisplay::refreshRate() const {
    if (!s_->window) {
        return 0.0;
    }
    SDL_DisplayMode mode;
    const int index = std::max(0, SDL_GetWindowDisplayIndex(s_->window));
    if (SDL_GetCurrentDisplayMode(index, &mode) != 0) {
        return 0.0;
    }
    return double(mode.refresh_rate);
}

bool SdlDisplay::presentsInStep() const {
    return s_->renderer && s_->inStep;
}

bool SdlDisplay::minimized() const {
    return s_->window && (SDL_GetWindowFlags(s_->window) & SDL_WINDOW_MINIMIZED) != 0;
}

} // namespace lumo::Framebuffer
