#include "display/display.h"
#include "display/window_logic.h"

#include <gtest/gtest.h>

#include <vector>

using namespace lumo::Framebuffer;

using Command = WindowCommand;
using Commands = std::vector<WindowCommand>;

TEST(ModeSearch, SmallestQualifyingModeWinsTheLastOfEqualSizeAndForcedOnlyItsSize) {
    std::vector<DisplayMode> list = {{800, 600}, {640, 480}, {1024, 768},
                                     {640, 480}, {320, 240}, {800, 600}};
    EXPECT_EQ(chooseFullscreenMode(list, 640, 360, false, 0, 0), 3);
    EXPECT_EQ(chooseFullscreenMode(list, 700, 500, false, 0, 0), 5);
    EXPECT_EQ(chooseFullscreenMode(list, 1025, 480, false, 0, 0), -1);
    // Narrower but taller does not replace the choice: each side is compared, not the area.
    EXPECT_EQ(chooseFullscreenMode(std::vector<DisplayMode>{{1280, 720}, {1024, 768}}, 640, 480,
                                   false, 0, 0),
              0);

    list = {{1920, 1080}, {1280, 720}, {640, 480}, {1280, 720}, {1280, 800}};
    EXPECT_EQ(chooseFullscreenMode(list, 640, 360, true, 1280, 720), 3);
    EXPECT_EQ(chooseFullscreenMode(list, 640, 360, true, 1280, 768), -1);
    // The forced size must still hold the frame.
    EXPECT_EQ(chooseFullscreenMode(list, 1920, 1080, true, 1280, 720), -1);
}

TEST(WindowMenu, CommandsPerStateZoomNeedsBothSidesStrictlySmallerAndShortcuts) {
    WindowState s{.frameWidth = 640, .frameHeight = 480, .screenWidth = 1920, .screenHeight = 1080};
    // A full HD screen offers 2x zoom only.
    EXPECT_EQ(offeredCommands(s),
              (Commands{Command::OriginalSize, Command::Zoom2, Command::Fullscreen}));
    s.centred = false;
    s.maximized = true;
    EXPECT_EQ(offeredCommands(s), (Commands{Command::Fullscreen, Command::Center}));
    s.maximized = false;
    s.minimized = true;
    EXPECT_EQ(offeredCommands(s), (Commands{Command::Fullscreen, Command::Center}));
    s.fullscreen = true;
    EXPECT_EQ(offeredCommands(s), (Commands{Command::Windowed}));

    s = {.frameWidth = 640, .frameHeight = 360, .screenWidth = 1280, .screenHeight = 1024};
    EXPECT_FALSE(isOffered(s, Command::Zoom2)); // 1280 is not smaller
    s.screenWidth = 1281;
    EXPECT_TRUE(isOffered(s, Command::Zoom2));
    // A huge frame does not wrap around into fitting.
    s.frameWidth = s.frameHeight = 1 << 29;
    EXPECT_FALSE(isOffered(s, Command::Zoom8));

    EXPECT_EQ(shortcutCommand('1'), Command::OriginalSize);
    EXPECT_EQ(shortcutCommand('8'), Command::Zoom8);
    EXPECT_EQ(shortcutCommand('C'), Command::Center);
    EXPECT_EQ(shortcutCommand('3'), Command::None);
    EXPECT_EQ(shortcutCommand('\r'), Command::None);
}

TEST(WindowPlacement, CentredAndZoomedRectanglesAndMouseScaling) {
    EXPECT_EQ(centredRect(1920, 1080, 640, 480), (WindowRect{640, 300, 640, 480}));
    EXPECT_EQ(centredRect(800, 600, 1280, 960), (WindowRect{0, 0, 1280, 960}));
    // Zoom keeps the centre (960, 540) and clamps the corner at 0.
    EXPECT_EQ(zoomedRect({640, 300, 640, 480}, 640, 480, 2), (WindowRect{320, 60, 1280, 960}));
    EXPECT_EQ(zoomedRect({10, 10, 640, 480}, 640, 480, 2), (WindowRect{0, 0, 1280, 960}));
    // At zoom 1 a frame keeps its size when it fits the screen, else it shrinks
    // to the largest of its shape that does; an unknown screen changes nothing.
    EXPECT_EQ(fittedSize(1920, 1080, 1920, 1080), (WindowRect{0, 0, 1920, 1080}));
    EXPECT_EQ(fittedSize(1920, 1080, 3840, 2160), (WindowRect{0, 0, 1920, 1080}));
    EXPECT_EQ(fittedSize(1280, 1024, 3840, 2160), (WindowRect{0, 0, 1280, 720}));
    EXPECT_EQ(fittedSize(1920, 1080, 1000, 2000), (WindowRect{0, 0, 540, 1080}));
    EXPECT_EQ(fittedSize(0, 0, 2560, 1440), (WindowRect{0, 0, 2560, 1440}));
    // A window zoomed x2 reports half the client coordinates; full screen 1920 over 640;
    // a minimized window has no client area.
    EXPECT_FLOAT_EQ(toFramePixels(101, 640, 1280), 50.5f);
    EXPECT_FLOAT_EQ(toFramePixels(1917, 640, 1920), 639.0f);
    EXPECT_FLOAT_EQ(toFramePixels(5, 640, 0), 0.0f);
}
