#pragma once
// Window rules that do not need a window: the full-screen mode search, which
// window commands are offered, window placement and mouse scaling. The SDL
// display applies them; tests run them on synthetic input.

#include <span>
#include <vector>

namespace lumo::Framebuffer {

struct DisplayMode {
    int width = 0;
    int height = 0;
    int refreshRate = 0; // informational; the search looks at the size only
};

// Index of the full-screen mode for a frame, or -1 when none qualifies. A mode
// qualifies when it is at least the frame size and, while forced, exactly
// forcedWidth x forcedHeight. Walking the list in order, a qualifying mode
// replaces the choice unless it is wider or taller, so the smallest wins and,
// among equal sizes, the last one listed.
int chooseFullscreenMode(std::span<const DisplayMode> modes, int frameWidth, int frameHeight,
                         bool forced, int forcedWidth, int forcedHeight);
// The same with the process-wide forced-mode values of display.h.
int chooseFullscreenMode(std::span<const DisplayMode> modes, int frameWidth, int frameHeight);

// What the window offers besides showing the frame, reached by the Alt
// shortcuts below (Windowed and Fullscreen by Alt+Enter). The numbers give the order in which
// offeredCommands lists the commands: the four sizes (2-5), the window/full-screen pair (7, 8),
// then Center (10); 6 and 9 are skipped where one group ends and the next begins. Nothing computes
// with them; they are written out so that the order a list of commands must have can be read off
// here.
enum class WindowCommand {
    None = 0,
    OriginalSize = 2, // zoom 1: the client area is the frame's own width x height
    Zoom2 = 3,
    Zoom4 = 4,
    Zoom8 = 5,
    Windowed = 7,
    Fullscreen = 8,
    Center = 10,
};

struct WindowState {
    bool fullscreen = false;
    bool minimized = false;
    bool maximized = false;
    bool centred = true; // cleared when the window is moved
    int frameWidth = 0;
    int frameHeight = 0;
    int screenWidth = 0;
    int screenHeight = 0;
};

// Commands offered in this state, in rising order. Sizes only in a window that
// is neither minimized nor maximized, zoom k only when k times the frame is
// smaller than the screen both ways; Fullscreen in a window, Windowed in full
// screen; Center in a window that has moved since it was last centred.
std::vector<WindowCommand> offeredCommands(const WindowState& state);
bool isOffered(const WindowState& state, WindowCommand command);
// Zoom factor of a size command (1, 2, 4, 8), 0 for other commands.
int zoomOf(WindowCommand command);

// The Alt shortcut keys: Alt+1 sets the client area to the frame's own size
// (OriginalSize), Alt+2/4/8 to two, four or eight times it, Alt+C centres the
// window. Returns the command of a virtual key, None for other keys. Alt+Enter,
// the window/full-screen switch, is handled on its own and takes effect at the
// next lockFrame.
WindowCommand shortcutCommand(int virtualKey);

struct WindowRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const WindowRect&) const = default;
};

// Client rectangle of size width x height centred on the screen, top-left
// clamped to be non-negative.
WindowRect centredRect(int screenWidth, int screenHeight, int width, int height);
// The window's size at zoom 1: the frame's own when it fits the screen, else
// the largest of the frame's shape that does (a screen of unknown size, 0,
// takes the frame's own).
WindowRect fittedSize(int screenWidth, int screenHeight, int frameWidth, int frameHeight);
// Client rectangle of zoom x the frame size around the centre of current,
// top-left clamped to be non-negative.
WindowRect zoomedRect(const WindowRect& current, int frameWidth, int frameHeight, int zoom);

// A window client coordinate in frame pixels: coordinate * frameSize / clientSize,
// 0 for an empty client area (a minimized window).
float toFramePixels(int coordinate, int frameSize, int clientSize);

} // namespace lumo::Framebuffer
