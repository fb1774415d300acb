#include "display/display.h"
#include "display/window_logic.h"

#include <gtest/gtest.h>

#include <vector>

using namespace lumo::Framebuffer;

namespace {

std::vector<DisplayMode> modes(std::initializer_list<std::pair<int, int>> sizes) {
    std::vector<DisplayMode> list;
    int refresh = 50;
    for (auto [w, h] : sizes)
        list.push_back({w, h, refresh++});
    return list;
}

WindowState state(int frameWidth, int frameHeight, int screenWidth, int screenHeight) {
    WindowState s;
    s.frameWidth = frameWidth;
    s.frameHeight = frameHeight;
    s.screenWidth = screenWidth;
    s.screenHeight = screenHeight;
    return s;
}

} // namespace

TEST(ModeSearch, SmallestQualifyingModeWinsTheLastOfEqualSize) {
    auto list = modes({{1920, 1080}, {640, 480}, {800, 600}, {320, 240}, {1024, 768}});
    EXPECT_EQ(chooseFullscreenMode(list, 640, 480, false, 0, 0), 1);
    EXPECT_EQ(chooseFullscreenMode(list, 640, 360, false, 0, 0), 1);
    EXPECT_EQ(chooseFullscreenMode(list, 700, 480, false, 0, 0), 2);
    EXPECT_EQ(chooseFullscreenMode(list, 1900, 700, false, 0, 0), 0);
    auto equal = modes({{800, 600}, {640, 480}, {1024, 768}, {640, 480}, {640, 480}, {800, 600}});
    EXPECT_EQ(chooseFullscreenMode(equal, 640, 480, false, 0, 0), 4);
    EXPECT_EQ(chooseFullscreenMode(equal, 700, 500, false, 0, 0), 5);
    // A mode that is narrower but taller does not replace the choice: the rule
    // compares each side, not the area.
    EXPECT_EQ(chooseFullscreenMode(modes({{1280, 720}, {1024, 768}, {1280, 1024}}), 640, 480, false,
                                   0, 0),
              0);
    EXPECT_EQ(chooseFullscreenMode(modes({{1024, 768}, {1280, 720}}), 640, 480, false, 0, 0), 0);
    EXPECT_EQ(chooseFullscreenMode(modes({{320, 240}, {640, 400}}), 640, 480, false, 0, 0), -1);
    EXPECT_EQ(chooseFullscreenMode(std::vector<DisplayMode>{}, 640, 480, false, 0, 0), -1);
}

TEST(ModeSearch, ForcedModeAcceptsOnlyItsSize) {
    auto list = modes({{1920, 1080}, {1280, 720}, {640, 480}, {1280, 720}, {1280, 800}});
    EXPECT_EQ(chooseFullscreenMode(list, 640, 360, true, 1280, 720), 3);
    auto without = modes({{1920, 1080}, {640, 480}, {1280, 800}});
    EXPECT_EQ(chooseFullscreenMode(without, 640, 360, true, 1280, 720), -1);
    // The forced size must still hold the frame.
    EXPECT_EQ(chooseFullscreenMode(list, 1920, 1080, true, 1280, 720), -1);
    // The process-wide settings are the defaults.
    auto two = modes({{1280, 720}, {640, 480}});
    forceFullscreenMode = 1;
    forcedModeWidth = 1280;
    forcedModeHeight = 720;
    EXPECT_EQ(chooseFullscreenMode(two, 640, 360), 0);
    forceFullscreenMode = 0;
    EXPECT_EQ(chooseFullscreenMode(two, 640, 360), 1);
}

TEST(WindowMenu, CommandsPerState) {
    WindowState s = state(640, 480, 1920, 1080);
    // A full HD screen offers 2x zoom only.
    EXPECT_EQ(offeredCommands(s),
              (std::vector<int>{CommandOriginalSize, CommandZoom2, CommandFullscreen}));
    EXPECT_FALSE(isOffered(s, CommandZoom4));
    EXPECT_FALSE(isOffered(s, CommandCenter));
    s.centred = false;
    EXPECT_EQ(offeredCommands(s), (std::vector<int>{CommandOriginalSize, CommandZoom2,
                                                    CommandFullscreen, CommandCenter}));
    s.maximized = true;
    EXPECT_EQ(offeredCommands(s), (std::vector<int>{CommandFullscreen, CommandCenter}));
    s.maximized = false;
    s.minimized = true;
    EXPECT_EQ(offeredCommands(s), (std::vector<int>{CommandFullscreen, CommandCenter}));
    s.minimized = false;
    s.fullscreen = true;
    EXPECT_EQ(offeredCommands(s), (std::vector<int>{CommandWindowed}));
}

TEST(WindowMenu, ZoomNeedsBothSidesStrictlySmaller) {
    EXPECT_FALSE(isOffered(state(640, 360, 1280, 1024), CommandZoom2)); // 1280 is not smaller
    EXPECT_TRUE(isOffered(state(640, 360, 1281, 1024), CommandZoom2));
    EXPECT_TRUE(isOffered(state(640, 360, 5200, 2900), CommandZoom8));
    // A huge frame does not wrap around into fitting.
    EXPECT_FALSE(isOffered(state(1 << 29, 1 << 29, 1920, 1080), CommandZoom8));
}

TEST(WindowMenu, ShortcutsAndZoomFactors) {
    for (auto [key, command] : {std::pair{'1', int(CommandOriginalSize)},
                                {'2', CommandZoom2},
                                {'4', CommandZoom4},
                                {'8', CommandZoom8},
                                {'C', CommandCenter},
                                {'3', 0},
                                {'\r', 0}})
        EXPECT_EQ(shortcutCommand(key), command) << key;
    EXPECT_EQ(zoomOf(CommandOriginalSize), 1);
    EXPECT_EQ(zoomOf(CommandZoom8), 8);
    EXPECT_EQ(zoomOf(CommandCenter), 0);
}

TEST(WindowPlacement, CentredAndZoomedRectanglesAndMouseScaling) {
    EXPECT_EQ(centredRect(1920, 1080, 640, 480), (WindowRect{640, 300, 640, 480}));
    EXPECT_EQ(centredRect(800, 600, 1280, 960), (WindowRect{0, 0, 1280, 960}));
    // Zoom keeps the centre (960, 540) and clamps the corner at 0.
    EXPECT_EQ(zoomedRect({640, 300, 640, 480}, 640, 480, 2), (WindowRect{320, 60, 1280, 960}));
    EXPECT_EQ(zoomedRect({10, 10, 640, 480}, 640, 480, 2), (WindowRect{0, 0, 1280, 960}));
    EXPECT_EQ(zoomedRect({320, 60, 1280, 960}, 640, 480, 1), (WindowRect{640, 300, 640, 480}));
    // A window zoomed x2 reports half the client coordinates; full screen 1920 over 640.
    EXPECT_FLOAT_EQ(toFramePixels(101, 640, 1280), 50.5f);
    EXPECT_FLOAT_EQ(toFramePixels(200, 480, 960), 100.0f);
    EXPECT_FLOAT_EQ(toFramePixels(77, 640, 640), 77.0f);
    EXPECT_FLOAT_EQ(toFramePixels(1917, 640, 1920), 639.0f);
    EXPECT_FLOAT_EQ(toFramePixels(5, 640, 0), 0.0f);
}
