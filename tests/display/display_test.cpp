#include "display/converters.h"
#include "display/display.h"
#include "display/keys.h"
#include "display/offscreen_display.h"
#include "display/timer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

using namespace lumo::Framebuffer;

namespace {

// Records every callback as a short line.
class RecordingListener : public Listener {
public:
    bool defaultKeys = true;
    bool allowClose = true;
    std::vector<std::string> calls;
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
    void buttonUp(Display* d, const Mouse& m) override { lastMouse = m, note(d, "bup"); }
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
    OffscreenFixture() : display(std::make_unique<OffscreenDisplay>()) {
        offscreen = static_cast<OffscreenDisplay*>(display.implementation());
    }
    Display display;
    OffscreenDisplay* offscreen;
    RecordingListener listener;

    void openWithListener() {
        ASSERT_TRUE(display.open("test", 64, 48, OutputWindow, ModeTrueColor));
        display.setListener(&listener);
        listener.calls.clear();
    }
};

} // namespace

TEST(Listener, Defaults) {
    Listener listener;
    Display display;
    Mouse mouse;
    EXPECT_TRUE(listener.handlesDefaultKeys());
    EXPECT_TRUE(listener.closeRequested(&display));
    // The rest do nothing and are safe with any arguments.
    listener.keyDown(nullptr, 27);
    listener.keyStroke(nullptr, 27);
    listener.keyUp(nullptr, 27);
    listener.buttonDown(nullptr, mouse);
    listener.buttonUp(nullptr, mouse);
    listener.pointerMove(nullptr, mouse);
    listener.activated(nullptr, true);
    listener.opened(nullptr);
}

TEST(DisplayFacade, WithoutImplementationEverythingIsANoOp) {
    Display display;
    EXPECT_FALSE(display.open("x", 640, 480, OutputWindow, ModeTrueColor));
    EXPECT_EQ(display.lockFrame(), nullptr);
    display.present();
    display.setListener(nullptr);
    display.close();
    EXPECT_FALSE(display.isOpen());
    EXPECT_STRNE(display.error(), "");
}

TEST_F(OffscreenFixture, OpenCallsOpenedWithTheFacade) {
    display.setListener(&listener);
    ASSERT_TRUE(display.open("test", 64, 48, OutputWindow, ModeTrueColor));
    EXPECT_EQ(listener.calls, std::vector<std::string>{"opened"});
    EXPECT_EQ(listener.lastDisplay, &display);
    EXPECT_TRUE(display.isOpen());
}

TEST_F(OffscreenFixture, BadOpenParametersFailWithAReason) {
    EXPECT_FALSE(display.open("t", 0, 48, OutputWindow, ModeTrueColor));
    EXPECT_NE(std::string(display.error()).find("out of range"), std::string::npos);
    EXPECT_FALSE(display.open("t", 64, -1, OutputWindow, ModeTrueColor));
    EXPECT_FALSE(display.open("t", 100000, 48, OutputWindow, ModeTrueColor));
    EXPECT_FALSE(display.open("t", 64, 48, 3, ModeTrueColor));
    EXPECT_FALSE(display.open("t", 64, 48, OutputWindow, 2));
    EXPECT_FALSE(display.isOpen());
    EXPECT_EQ(display.lockFrame(), nullptr);
}

TEST_F(OffscreenFixture, LockAndPresent) {
    ASSERT_TRUE(display.open("test", 64, 48, OutputWindow, ModeTrueColor));
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
}

TEST_F(OffscreenFixture, FloatModeGivesFormatNine) {
    ASSERT_TRUE(display.open("test", 10, 3, OutputFullscreen, ModeFloat));
    FrameDescriptor* frame = display.lockFrame();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->format, FormatXBGRFFFF);
    EXPECT_EQ(frame->pitch, 10 * 16);
    EXPECT_TRUE(offscreen->isFullscreen());
}

TEST_F(OffscreenFixture, ReopenReplacesTheFrame) {
    ASSERT_TRUE(display.open("a", 8, 8, OutputWindow, ModeTrueColor));
    display.lockFrame();
    ASSERT_TRUE(display.open("b", 16, 4, OutputWindow, ModeTrueColor));
    EXPECT_FALSE(offscreen->isLocked());
    EXPECT_EQ(display.lockFrame()->pitch, 64);
}

TEST_F(OffscreenFixture, HeldKeyGivesOneDownRepeatedStrokesOneUp) {
    openWithListener();
    offscreen->queueKeyDown('W');
    offscreen->queueKeyDown('W'); // auto-repeat
    offscreen->queueKeyDown('W');
    offscreen->queueKeyUp('W');
    EXPECT_TRUE(listener.calls.empty()); // delivered inside lockFrame only
    ASSERT_NE(display.lockFrame(), nullptr);
    EXPECT_EQ(listener.calls, (std::vector<std::string>{"down 87", "defaults", "stroke 87",
                                                        "stroke 87", "stroke 87", "up 87"}));
    EXPECT_EQ(listener.lastDisplay, &display);
}

TEST_F(OffscreenFixture, KeyCodesGoThroughTheTable) {
    openWithListener();
    offscreen->queueKeyDown(0xBB);
    offscreen->queueKeyDown(VkReturn);
    display.lockFrame();
    EXPECT_EQ(listener.calls[0], "down 61");
    EXPECT_EQ(listener.calls[3], "down 10");
}

TEST_F(OffscreenFixture, EscapeClosesWithDefaultKeys) {
    openWithListener();
    offscreen->queueKeyDown(VkEscape);
    offscreen->queueKeyDown('A'); // the window is gone: not delivered
    FrameDescriptor* frame = display.lockFrame();
    EXPECT_NE(frame, nullptr); // this frame is still drawn and presented
    display.present();
    EXPECT_FALSE(display.isOpen());
    EXPECT_EQ(listener.calls, (std::vector<std::string>{"down 27", "defaults", "stroke 27"}));
    EXPECT_EQ(display.lockFrame(), nullptr);
    EXPECT_FALSE(display.isOpen());
    EXPECT_EQ(display.lockFrame(), nullptr);
}

TEST_F(OffscreenFixture, EscapeKeepsTheWindowWithoutDefaultKeys) {
    openWithListener();
    listener.defaultKeys = false;
    offscreen->queueKeyDown(VkEscape);
    ASSERT_NE(display.lockFrame(), nullptr);
    display.present();
    EXPECT_TRUE(display.isOpen());
    EXPECT_NE(display.lockFrame(), nullptr);
}

TEST_F(OffscreenFixture, EscapeWithoutListenerCloses) {
    ASSERT_TRUE(display.open("t", 8, 8, OutputWindow, ModeTrueColor));
    offscreen->queueKeyDown(VkEscape);
    display.lockFrame();
    EXPECT_FALSE(display.isOpen());
}

TEST_F(OffscreenFixture, CloseRequestAnsweredFalseKeepsTheWindow) {
    openWithListener();
    listener.allowClose = false;
    offscreen->queueClose();
    display.lockFrame();
    EXPECT_TRUE(display.isOpen());
    listener.allowClose = true;
    offscreen->queueClose();
    display.lockFrame();
    EXPECT_FALSE(display.isOpen());
    EXPECT_EQ(listener.calls, (std::vector<std::string>{"close?", "close?"}));
    EXPECT_EQ(display.lockFrame(), nullptr);
}

TEST_F(OffscreenFixture, CloseWithoutListenerAlwaysCloses) {
    ASSERT_TRUE(display.open("t", 8, 8, OutputWindow, ModeTrueColor));
    offscreen->queueClose();
    display.lockFrame();
    EXPECT_FALSE(display.isOpen());
}

TEST_F(OffscreenFixture, AltEnterSwitchesAtTheNextLockAndIsNotAKey) {
    openWithListener();
    offscreen->queueKeyDown(VkReturn, true);
    display.lockFrame();
    EXPECT_FALSE(offscreen->isFullscreen()); // recorded, not yet carried out
    EXPECT_TRUE(listener.calls.empty());
    display.present();
    display.lockFrame();
    EXPECT_TRUE(offscreen->isFullscreen());
    // Alt shortcuts are the display's too.
    offscreen->queueKeyDown('2', true);
    display.lockFrame();
    EXPECT_TRUE(listener.calls.empty());
}

TEST_F(OffscreenFixture, ActivationAndMouse) {
    openWithListener();
    offscreen->queueActivation(false);
    offscreen->queuePointerMove(10.5f, 20.0f);
    offscreen->queueButton(MouseButton::Right, true, 11.0f, 21.0f);
    display.lockFrame();
    EXPECT_EQ(listener.calls, (std::vector<std::string>{"inactive", "move", "bdown"}));
    EXPECT_EQ(listener.lastMouse.right, 1);
    EXPECT_EQ(listener.lastMouse.left, 0);
    EXPECT_EQ(listener.lastMouse.x, 11.0f);
    EXPECT_EQ(listener.lastMouse.y, 21.0f);
    offscreen->queueButton(MouseButton::Right, false, 12.0f, 22.0f);
    display.lockFrame();
    EXPECT_EQ(listener.lastMouse.right, 0);
}

TEST(EventRouter, CaptureFollowsTheFirstAndLastButton) {
    OffscreenDisplay display;
    EventRouter router(display);
    EXPECT_EQ(router.button(MouseButton::Left, true, 0, 0), 1);
    EXPECT_EQ(router.button(MouseButton::Middle, true, 0, 0), 0);
    EXPECT_EQ(router.button(MouseButton::Left, false, 0, 0), 0);
    EXPECT_EQ(router.button(MouseButton::Middle, false, 0, 0), -1);
    EXPECT_EQ(router.button(MouseButton::Middle, false, 0, 0), 0); // a stray release
}

TEST(EventRouter, OutOfRangeKeysAreIgnored) {
    OffscreenDisplay display;
    RecordingListener listener;
    display.setListener(&listener);
    EventRouter router(display);
    router.keyDown(-1, false);
    router.keyDown(300, false);
    router.keyUp(999);
    EXPECT_TRUE(listener.calls.empty());
    router.keyDown('Q', false);
    EXPECT_TRUE(router.isKeyDown('Q'));
    router.reset();
    EXPECT_FALSE(router.isKeyDown('Q'));
}

TEST(SteadyTimer, CountsForwardFromReset) {
    SteadyTimer timer;
    double t0 = timer.time();
    double t1 = timer.time();
    EXPECT_GE(t0, 0.0);
    EXPECT_GE(t1, t0);
    EXPECT_GE(timer.delta(), 0.0);
    timer.wait(0.002);
    EXPECT_GT(timer.time(), t1); // a 2 ms sleep moves a steady clock
    timer.reset();
    EXPECT_GE(timer.time(), 0.0);
    EXPECT_GT(timer.resolution(), 0.0);
    EXPECT_LE(timer.resolution(), 1.0e-6);
}

TEST(SteadyTimer, InvalidWaitsReturnAtOnce) {
    SteadyTimer timer;
    // None of these may sleep or raise: a hang here times the test out.
    timer.wait(-1.0);
    timer.wait(0.0);
    timer.wait(std::numeric_limits<double>::quiet_NaN());
    timer.wait(std::numeric_limits<double>::infinity());
    timer.wait(1.0e300);
    SUCCEED();
}
