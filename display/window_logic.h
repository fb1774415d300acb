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

// Window commands (the numbers are the entry ids of the original system menu).
enum WindowCommand : int {
    CommandOriginalSize = 2,
    CommandZoom2 = 3,
    CommandZoom4 = 4,
    CommandZoom8 = 5,
    CommandWindowed = 7,
    CommandFullscreen = 8,
    CommandCenter = 10,
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

// Commands offered in this state, in menu order. Sizes only in a window that is
// neither minimized nor maximized, zoom k only when k times the frame is smaller
// than the screen both ways; Fullscreen in a window, Windowed in full screen;
// Center in a window that has moved since it was last centred.
std::vector<int> offeredCommands(const WindowState& state);
bool isOffered(const WindowState& state, int command);
// Zoom factor of a size command (1, 2, 4, 8), 0 for other commands.
int zoomOf(int command);

// The Alt shortcut keys that stand in for the menu: Alt+1 original size,
// Alt+2/4/8 zoom, Alt+C center. Returns the command of a virtual key, or 0.
// (Alt+Enter, the window/full-screen switch, is handled on its own.)
int shortcutCommand(int virtualKey);

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
// Client rectangle of zoom x the frame size around the centre of current,
// top-left clamped to be non-negative.
WindowRect zoomedRect(const WindowRect& current, int frameWidth, int frameHeight, int zoom);

// A window client coordinate in frame pixels: coordinate * frameSize / clientSize,
// 0 for an empty client area (a minimized window).
float toFramePixels(int coordinate, int frameSize, int clientSize);

} // namespace lumo::Framebuffer
