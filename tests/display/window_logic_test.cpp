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

} // namespace

TEST(ModeSearch, SmallestQualifyingModeWins) {
    auto list = modes({{1920, 1080}, {640, 480}, {800, 600}, {320, 240}, {1024, 768}});
    EXPECT_EQ(chooseFullscreenMode(list, 640, 480, false, 0, 0), 1);
    EXPECT_EQ(chooseFullscreenMode(list, 640, 360, false, 0, 0), 1);
    EXPECT_EQ(chooseFullscreenMode(list, 700, 480, false, 0, 0), 2);
    EXPECT_EQ(chooseFullscreenMode(list, 1900, 700, false, 0, 0), 0);
}

TEST(ModeSearch, LastOfEqualSizeWins) {
    auto list = modes({{800, 600}, {640, 480}, {1024, 768}, {640, 480}, {640, 480}, {800, 600}});
    EXPECT_EQ(chooseFullscreenMode(list, 640, 480, false, 0, 0), 4);
    EXPECT_EQ(chooseFullscreenMode(list, 700, 500, false, 0, 0), 5);
}

// A mode that is narrower but taller does not replace the choice: the rule
// compares each side, not the area.
TEST(ModeSearch, NeitherWiderNorTallerReplaces) {
    auto list = modes({{1280, 720}, {1024, 768}, {1280, 1024}});
    EXPECT_EQ(chooseFullscreenMode(list, 640, 480, false, 0, 0), 0);
    auto reversed = modes({{1024, 768}, {1280, 720}});
    EXPECT_EQ(chooseFullscreenMode(reversed, 640, 480, false, 0, 0), 0);
}

TEST(ModeSearch, ForcedModeAcceptsOnlyItsSize) {
    auto list = modes({{1920, 1080}, {1280, 720}, {640, 480}, {1280, 720}, {1280, 800}});
    EXPECT_EQ(chooseFullscreenMode(list, 640, 360, true, 1280, 720), 3);
    auto without = modes({{1920, 1080}, {640, 480}, {1280, 800}});
    EXPECT_EQ(chooseFullscreenMode(without, 640, 360, true, 1280, 720), -1);
    // The forced size must still hold the frame.
    EXPECT_EQ(chooseFullscreenMode(list, 1920, 1080, true, 1280, 720), -1);
}

TEST(ModeSearch, NoneQualifying) {
    EXPECT_EQ(chooseFullscreenMode(modes({{320, 240}, {640, 400}}), 640, 480, false, 0, 0), -1);
    EXPECT_EQ(chooseFullscreenMode(std::vector<DisplayMode>{}, 640, 480, false, 0, 0), -1);
}

TEST(ModeSearch, ProcessWideForcedValues) {
    auto list = modes({{1280, 720}, {640, 480}});
    forceFullscreenMode = 1;
    forcedModeWidth = 1280;
    forcedModeHeight = 720;
    EXPECT_EQ(chooseFullscreenMode(list, 640, 360), 0);
    forceFullscreenMode = 0;
    EXPECT_EQ(chooseFullscreenMode(list, 640, 360), 1);
}

TEST(WindowMenu, FullHdScreenOffersTwoTimesZoomOnly) {
    WindowState s;
    s.frameWidth = 640;
    s.frameHeight = 480;
    s.screenWidth = 1920;
    s.screenHeight = 1080;
    EXPECT_EQ(offeredCommands(s),
              (std::vector<int>{CommandOriginalSize, CommandZoom2, CommandFullscreen}));
    EXPECT_TRUE(isOffered(s, CommandZoom2));
    EXPECT_FALSE(isOffered(s, CommandZoom4));
    EXPECT_FALSE(isOffered(s, CommandZoom8));
    EXPECT_FALSE(isOffered(s, CommandCenter));
}

TEST(WindowMenu, ZoomNeedsBothSidesStrictlySmaller) {
    WindowState s;
    s.frameWidth = 640;
    s.frameHeight = 360;
    s.screenWidth = 1280;
    s.screenHeight = 1024;
    EXPECT_FALSE(isOffered(s, CommandZoom2)); // 1280 is not smaller than 1280
    s.screenWidth = 1281;
    EXPECT_TRUE(isOffered(s, CommandZoom2));
    s.screenWidth = 5200;
    s.screenHeight = 2900;
    EXPECT_TRUE(isOffered(s, CommandZoom4));
    EXPECT_TRUE(isOffered(s, CommandZoom8));
}

TEST(WindowMenu, PerState) {
    WindowState s;
    s.frameWidth = 640;
    s.frameHeight = 480;
    s.screenWidth = 1920;
    s.screenHeight = 1080;
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

TEST(WindowMenu, HugeFrameDoesNotWrapIntoFitting) {
    WindowState s;
    s.frameWidth = 1 << 29;
    s.frameHeight = 1 << 29;
    s.screenWidth = 1920;
    s.screenHeight = 1080;
    EXPECT_FALSE(isOffered(s, CommandZoom8));
}

TEST(WindowMenu, ShortcutsAndZoomFactors) {
    EXPECT_EQ(shortcutCommand('1'), CommandOriginalSize);
    EXPECT_EQ(shortcutCommand('2'), CommandZoom2);
    EXPECT_EQ(shortcutCommand('4'), CommandZoom4);
    EXPECT_EQ(shortcutCommand('8'), CommandZoom8);
    EXPECT_EQ(shortcutCommand('C'), CommandCenter);
    EXPECT_EQ(shortcutCommand('3'), 0);
    EXPECT_EQ(shortcutCommand(0x0D), 0);
    EXPECT_EQ(zoomOf(CommandOriginalSize), 1);
    EXPECT_EQ(zoomOf(CommandZoom8), 8);
    EXPECT_EQ(zoomOf(CommandCenter), 0);
}

TEST(WindowPlacement, CentredAndZoomedRectangles) {
    EXPECT_EQ(centredRect(1920, 1080, 640, 480), (WindowRect{640, 300, 640, 480}));
    EXPECT_EQ(centredRect(800, 600, 1280, 960), (WindowRect{0, 0, 1280, 960}));
    // Zoom keeps the centre (960, 540) and clamps the corner at 0.
    WindowRect current{640, 300, 640, 480};
    EXPECT_EQ(zoomedRect(current, 640, 480, 2), (WindowRect{320, 60, 1280, 960}));
    EXPECT_EQ(zoomedRect({10, 10, 640, 480}, 640, 480, 2), (WindowRect{0, 0, 1280, 960}));
    EXPECT_EQ(zoomedRect({320, 60, 1280, 960}, 640, 480, 1), (WindowRect{640, 300, 640, 480}));
}

TEST(MouseScaling, ClientToFramePixels) {
    // A window zoomed x2 reports half the client coordinates.
    EXPECT_FLOAT_EQ(toFramePixels(300, 640, 1280), 150.0f);
    EXPECT_FLOAT_EQ(toFramePixels(101, 640, 1280), 50.5f);
    EXPECT_FLOAT_EQ(toFramePixels(200, 480, 960), 100.0f);
    EXPECT_FLOAT_EQ(toFramePixels(77, 640, 640), 77.0f);
    // Full screen 1920 wide over a 640 frame.
    EXPECT_FLOAT_EQ(toFramePixels(1917, 640, 1920), 639.0f);
    EXPECT_FLOAT_EQ(toFramePixels(5, 640, 0), 0.0f);
}
