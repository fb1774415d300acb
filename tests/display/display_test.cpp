#include "display/converters.h"
#include "display/display.h"
#include "display/keys.h"
#include "display/offscreen_display.h"
#include "display/timer.h"
#include "tests/display/recording_listener.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

using namespace lumo::Framebuffer;

namespace {

struct OffscreenFixture : ::testing::Test {
    OffscreenFixture() : display(std::make_unique<OffscreenDisplay>()) {
        offscreen = static_cast<OffscreenDisplay*>(display.implementation());
    }
    Display display;
    OffscreenDisplay* offscreen;
    RecordingListener listener;

    // Opens a 64 x 48 window, with the recording listener unless told otherwise.
    void openWithListener(bool withListener = true) {
        ASSERT_TRUE(display.open("test", 64, 48, OutputWindow, ModeTrueColor));
        display.setListener(withListener ? &listener : nullptr);
        listener.calls.clear();
    }
};

} // namespace

TEST(DisplayFacade, WithoutImplementationEverythingIsANoOp) {
    Display display;
    EXPECT_FALSE(display.open("x", 640, 480, OutputWindow, ModeTrueColor));
    EXPECT_EQ(display.lockFrame(), nullptr);
    display.present();
    display.setListener(nullptr);
    display.close();
    EXPECT_FALSE(display.isOpen());
    EXPECT_STRNE(display.error(), "");
    Listener defaults; // answers yes to both questions
    EXPECT_TRUE(defaults.handlesDefaultKeys());
    EXPECT_TRUE(defaults.closeRequested(&display));
}

TEST_F(OffscreenFixture, OpenCallsOpenedAndBadParametersFailWithAReason) {
    display.setListener(&listener);
    for (auto [w, h, output, mode] :
         {std::tuple<int, int, int, int>{0, 48, OutputWindow, ModeTrueColor},
          {64, -1, OutputWindow, ModeTrueColor},
          {100000, 48, OutputWindow, ModeTrueColor},
          {64, 48, 3, ModeTrueColor},
          {64, 48, OutputWindow, 2}}) {
        EXPECT_FALSE(display.open("t", w, h, output, mode)) << w << "x" << h;
        EXPECT_STRNE(display.error(), "");
        if (output == OutputWindow && mode == ModeTrueColor) { // a size
            EXPECT_NE(std::string(display.error()).find("out of range"), std::string::npos);
        }
        EXPECT_FALSE(display.isOpen());
        EXPECT_EQ(display.lockFrame(), nullptr);
    }
    EXPECT_TRUE(listener.calls.empty());
    ASSERT_TRUE(display.open("test", 64, 48, OutputWindow, ModeTrueColor));
    EXPECT_EQ(listener.calls, Lines{"opened"});
    EXPECT_EQ(listener.lastDisplay, &display);
    EXPECT_TRUE(display.isOpen());
}

TEST_F(OffscreenFixture, LockAndPresent) {
    openWithListener(false);
    EXPECT_EQ(offscreen->presentedPixels(), nullptr);
    display.present(); // nothing locked: ignored
    EXPECT_EQ(offscreen->presentCount(), 0);

    FrameDescriptor* frame = display.lockFrame();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->format, FormatXRGB8888);
    EXPECT_EQ(frame->pitch, 64 * 4);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(frame->pixels) % 64, 0u);
    EXPECT_TRUE(offscreen->isLocked());
    auto* pixels = static_cast<std::uint32_t*>(frame->pixels);
    EXPECT_EQ(pixels[0], 0u); // starts black
    for (int i = 0; i < 64 * 48; ++i)
        pixels[i] = std::uint32_t(i) * 2654435761u;
    display.present();
    EXPECT_FALSE(offscreen->isLocked());
    EXPECT_EQ(offscreen->presentCount(), 1);
    ASSERT_NE(offscreen->presentedPixels(), nullptr);
    EXPECT_EQ(std::memcmp(offscreen->presentedPixels(), pixels, 64 * 48 * 4), 0);

    // Writing after present does not change what was presented, and the same
    // memory comes back with the next lock.
    pixels[5] = 0xDEADBEEF;
    std::uint32_t presented5;
    std::memcpy(&presented5, offscreen->presentedPixels() + 20, 4);
    EXPECT_EQ(presented5, 5u * 2654435761u);
    display.present(); // a second present without a lock does nothing
    EXPECT_EQ(offscreen->presentCount(), 1);
    EXPECT_EQ(display.lockFrame()->pixels, pixels);

    // Reopening replaces the frame and drops the lock.
    ASSERT_TRUE(display.open("b", 16, 4, OutputWindow, ModeTrueColor));
    EXPECT_FALSE(offscreen->isLocked());
    EXPECT_EQ(display.lockFrame()->pitch, 64);
    // Float mode gives format nine.
    ASSERT_TRUE(display.open("test", 10, 3, OutputFullscreen, ModeFloat));
    frame = display.lockFrame();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->format, FormatXBGRFFFF);
    EXPECT_EQ(frame->pitch, 10 * 16);
    EXPECT_TRUE(offscreen->isFullscreen());
}

TEST_F(OffscreenFixture, HeldKeyGivesOneDownRepeatedStrokesOneUp) {
    openWithListener();
    for (int i = 0; i < 3; ++i)
        offscreen->queueKeyDown('W'); // auto-repeat
    offscreen->queueKeyUp('W');
    offscreen->queueKeyDown(0xBB); // through the key table
    offscreen->queueKeyDown(VkReturn);
    EXPECT_TRUE(listener.calls.empty()); // delivered inside lockFrame only
    ASSERT_NE(display.lockFrame(), nullptr);
    EXPECT_EQ(listener.calls,
              (Lines{"down 87", "defaults", "stroke 87", "stroke 87", "stroke 87", "up 87",
                     "down 61", "defaults", "stroke 61", "down 10", "defaults", "stroke 10"}));
    EXPECT_EQ(listener.lastDisplay, &display);
}

TEST_F(OffscreenFixture, EscapeClosesOnlyWithDefaultKeys) {
    for (int variant = 0; variant < 3; ++variant) { // defaults, no listener, listener declines
        openWithListener(variant != 1);
        listener.defaultKeys = variant != 2;
        offscreen->queueKeyDown(VkEscape);
        offscreen->queueKeyDown('A');            // after a close the window is gone: not delivered
        EXPECT_NE(display.lockFrame(), nullptr); // this frame is still drawn and presented
        display.present();
        EXPECT_EQ(display.isOpen(), variant == 2) << variant;
        EXPECT_EQ(display.lockFrame() != nullptr, variant == 2);
        if (variant == 0) {
            EXPECT_EQ(listener.calls, (Lines{"down 27", "defaults", "stroke 27"}));
        }
    }
}

TEST_F(OffscreenFixture, CloseRequestAnsweredByTheListener) {
    openWithListener();
    listener.allowClose = false;
    offscreen->queueClose();
    display.lockFrame();
    EXPECT_TRUE(display.isOpen());
    listener.allowClose = true;
    offscreen->queueClose();
    display.lockFrame();
    EXPECT_FALSE(display.isOpen());
    EXPECT_EQ(listener.calls, (Lines{"close?", "close?"}));
    EXPECT_EQ(display.lockFrame(), nullptr);
    // Without a listener a close always closes.
    openWithListener(false);
    offscreen->queueClose();
    display.lockFrame();
    EXPECT_FALSE(display.isOpen());
}

TEST_F(OffscreenFixture, AltEnterSwitchesAtTheNextLockAndIsNotAKey) {
    openWithListener();
    offscreen->queueKeyDown(VkReturn, true);
    display.lockFrame();
    EXPECT_FALSE(offscreen->isFullscreen()); // recorded, not yet carried out
    display.present();
    display.lockFrame();
    EXPECT_TRUE(offscreen->isFullscreen());
    offscreen->queueKeyDown('2', true); // Alt shortcuts are the display's too
    display.lockFrame();
    EXPECT_TRUE(listener.calls.empty());
}

TEST_F(OffscreenFixture, ActivationAndMouse) {
    openWithListener();
    offscreen->queueActivation(false);
    offscreen->queuePointerMove(10.5f, 20.0f);
    offscreen->queueButton(MouseButton::Right, true, 11.0f, 21.0f);
    display.lockFrame();
    EXPECT_EQ(listener.calls, (Lines{"inactive", "move", "bdown"}));
    EXPECT_EQ(listener.lastMouse.right, 1);
    EXPECT_EQ(listener.lastMouse.left, 0);
    EXPECT_EQ(listener.lastMouse.x, 11.0f);
    EXPECT_EQ(listener.lastMouse.y, 21.0f);
    offscreen->queueButton(MouseButton::Right, false, 12.0f, 22.0f);
    display.lockFrame();
    EXPECT_EQ(listener.lastMouse.right, 0);
}

TEST(EventRouter, CaptureFollowsButtonsAndOutOfRangeKeysAreIgnored) {
    OffscreenDisplay display;
    RecordingListener listener;
    display.setListener(&listener);
    EventRouter router(display);
    EXPECT_EQ(router.button(MouseButton::Left, true, 0, 0), 1);
    EXPECT_EQ(router.button(MouseButton::Middle, true, 0, 0), 0);
    EXPECT_EQ(router.button(MouseButton::Left, false, 0, 0), 0);
    EXPECT_EQ(router.button(MouseButton::Middle, false, 0, 0), -1);
    EXPECT_EQ(router.button(MouseButton::Middle, false, 0, 0), 0); // a stray release
    listener.calls.clear();
    router.keyDown(-1, false);
    router.keyDown(300, false);
    router.keyUp(999);
    EXPECT_TRUE(listener.calls.empty());
    router.keyDown('Q', false);
    EXPECT_TRUE(router.isKeyDown('Q'));
    router.reset();
    EXPECT_FALSE(router.isKeyDown('Q'));
}

TEST(SteadyTimer, CountsForwardAndInvalidWaitsReturnAtOnce) {
    SteadyTimer timer;
    double t0 = timer.time();
    EXPECT_GE(t0, 0.0);
    EXPECT_GE(timer.delta(), 0.0);
    timer.wait(0.002);
    EXPECT_GT(timer.time(), t0); // a 2 ms sleep moves a steady clock
    timer.reset();
    EXPECT_GE(timer.time(), 0.0);
    EXPECT_GT(timer.resolution(), 0.0);
    EXPECT_LE(timer.resolution(), 1.0e-6);
    // None of these may sleep or raise: a hang here times the test out.
    for (double bad : {-1.0, 0.0, std::numeric_limits<double>::quiet_NaN(),
                       std::numeric_limits<double>::infinity(), 1.0e300})
        timer.wait(bad);
}
