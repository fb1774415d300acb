#include "display/converters.h"
#include "display/display.h"
#include "display/keys.h"
#include "display/offscreen_display.h"
#include "display/timer.h"
#include "tests/display/recording_listener.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <string>
#include <tuple>

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

// Run in a child process: limits the address space to what is mapped so far
// plus 256 MiB, far less than the 4 GiB of the largest float frame, and opens
// one. 0 when the open failed with the reason for it.
int openLargestFrameInLittleMemory() {
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    rlim_t bytes = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (rlim_t(256) << 20);
    rlimit limit{bytes, bytes};
    if (setrlimit(RLIMIT_AS, &limit) != 0) {
        return 2;
    }
    OffscreenDisplay display;
    if (display.open("t", kMaxFrameSide, kMaxFrameSide, OutputWindow, ModeFloat)) {
        return 1;
    }
    return std::string(display.error()) == "cannot allocate the frame memory" ? 0 : 1;
}

} // namespace

TEST(DisplayFacade, WithoutImplementationEverythingIsANoOp) {
    Display display;
    EXPECT_FALSE(display.open("x", 640, 480, OutputWindow, ModeTrueColor));
    EXPECT_EQ(display.lockFrame(), nullptr);
    display.present();
    display.close();
    EXPECT_FALSE(display.isOpen());
    EXPECT_STRNE(display.error(), "");
}

TEST_F(OffscreenFixture, OpenCallsOpenedAndBadParametersFailWithAReason) {
    display.setListener(&listener);
    for (auto [w, h, output, mode] :
         {std::tuple<int, int, int, int>{64, -1, OutputWindow, ModeTrueColor},
          {100000, 48, OutputWindow, ModeTrueColor},
          {64, 48, 3, ModeTrueColor},
          {64, 48, OutputWindow, 2}}) {
        EXPECT_FALSE(display.open("t", w, h, output, mode)) << w << "x" << h;
        EXPECT_STRNE(display.error(), "");
        EXPECT_FALSE(display.isOpen());
        EXPECT_EQ(display.lockFrame(), nullptr);
    }
    EXPECT_TRUE(listener.calls.empty());
    ASSERT_TRUE(display.open("test", 64, 48, OutputWindow, ModeTrueColor));
    EXPECT_EQ(listener.calls, Lines{"opened"});
    EXPECT_EQ(listener.lastDisplay, &display);
}

TEST_F(OffscreenFixture, LockAndPresent) {
    openWithListener(false);
    display.present(); // nothing locked: ignored
    EXPECT_EQ(offscreen->presentCount(), 0);

    FrameDescriptor* frame = display.lockFrame();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->format, FormatXRGB8888);
    EXPECT_EQ(frame->pitch, 64 * 4);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(frame->pixels) % 64, 0u);
    auto* pixels = static_cast<std::uint32_t*>(frame->pixels);
    EXPECT_EQ(pixels[0], 0u); // starts black
    for (int i = 0; i < 64 * 48; ++i) {
        pixels[i] = std::uint32_t(i) * 2654435761u;
    }
    display.present();
    display.present(); // a second present without a lock does nothing
    EXPECT_EQ(offscreen->presentCount(), 1);
    ASSERT_NE(offscreen->presentedPixels(), nullptr);
    EXPECT_EQ(std::memcmp(offscreen->presentedPixels(), pixels, 64 * 48 * 4), 0);
    // Writing after present does not change what was presented, and the same
    // memory comes back with the next lock.
    pixels[5] = 0xDEADBEEF;
    EXPECT_NE(std::memcmp(offscreen->presentedPixels() + 20, &pixels[5], 4), 0);
    EXPECT_EQ(display.lockFrame()->pixels, pixels);

    // Reopening replaces the frame and drops the lock; float mode gives format nine.
    ASSERT_TRUE(display.open("test", 10, 3, OutputFullscreen, ModeFloat));
    EXPECT_FALSE(offscreen->isLocked());
    frame = display.lockFrame();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->format, FormatXBGRFFFF);
    EXPECT_EQ(frame->pitch, 10 * 16);
    EXPECT_TRUE(offscreen->isFullscreen());

    // Alt+Enter belongs to the display: it switches at the lock after the one
    // that delivered it, and two before that lock cancel out.
    offscreen->queueKeyDown(VkReturn, true);
    display.lockFrame();
    EXPECT_TRUE(offscreen->isFullscreen());
    display.lockFrame();
    EXPECT_FALSE(offscreen->isFullscreen());
    offscreen->queueKeyDown(VkReturn, true);
    offscreen->queueKeyDown(VkReturn, true);
    display.lockFrame();
    display.lockFrame();
    EXPECT_FALSE(offscreen->isFullscreen());

    // The last presented frame and its geometry outlive the display.
    display.present();
    display.close();
    EXPECT_EQ(std::tuple(offscreen->width(), offscreen->height(), offscreen->pitch()),
              std::tuple(10, 3, 160));
    EXPECT_NE(offscreen->presentedPixels(), nullptr);
    EXPECT_EQ(display.lockFrame(), nullptr);
}

// A frame the memory cannot hold fails the open with a reason instead of ending
// the program. The address space is limited in a child process only.
TEST(OffscreenMemory, AFrameThatCannotBeAllocatedFailsTheOpen) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers reserve more address space than the limit leaves";
#endif
    EXPECT_EXIT(std::exit(openLargestFrameInLittleMemory()), ::testing::ExitedWithCode(0), "");
}

// Events arrive in order inside lockFrame only; a held key gives one down,
// repeated strokes and one up.
TEST_F(OffscreenFixture, EventsArriveInOrderInsideLockFrame) {
    openWithListener();
    offscreen->queueActivation(false);
    for (int i = 0; i < 3; ++i) {
        offscreen->queueKeyDown('W'); // auto-repeat
    }
    offscreen->queueKeyUp('W');
    offscreen->queueKeyDown(0xBB); // through the key table
    offscreen->queueKeyDown(300);  // out of range: ignored
    offscreen->queueKeyUp(-1);
    offscreen->queuePointerMove(10.5f, 20.0f);
    offscreen->queueButton(MouseButton::Right, true, 11.0f, 21.0f);
    EXPECT_TRUE(listener.calls.empty());
    ASSERT_NE(display.lockFrame(), nullptr);
    EXPECT_EQ(listener.calls,
              (Lines{"inactive", "down 87", "defaults", "stroke 87", "stroke 87", "stroke 87",
                     "up 87", "down 61", "defaults", "stroke 61", "move", "bdown"}));
    EXPECT_EQ(listener.lastDisplay, &display);
    const Mouse& m = listener.lastMouse;
    EXPECT_EQ(std::tuple(int(m.left), int(m.right), m.x, m.y), std::tuple(0, 1, 11.0f, 21.0f));
}

// Escape closes only with default keys, a close request only when granted; either
// way the frame in hand is still presented and the next lock finds the window gone.
TEST_F(OffscreenFixture, EscapeAndCloseRequests) {
    const struct {
        bool escape, listening, agrees, closes;
    } cases[] = {{true, true, true, true},    {true, false, false, true},
                 {true, true, false, false},  {false, true, true, true},
                 {false, false, false, true}, {false, true, false, false}};
    for (const auto& c : cases) {
        openWithListener(c.listening);
        listener.defaultKeys = listener.allowClose = c.agrees;
        if (c.escape) {
            offscreen->queueKeyDown(VkEscape);
        } else {
            offscreen->queueClose();
        }
        offscreen->queueKeyDown('A'); // after a close the window is gone: not delivered
        EXPECT_NE(display.lockFrame(), nullptr);
        display.present();
        EXPECT_EQ(display.isOpen(), !c.closes) << c.escape << c.listening << c.agrees;
        EXPECT_EQ(display.lockFrame() != nullptr, !c.closes);
        if (c.listening && c.closes) {
            const Lines want =
                c.escape ? Lines{"down 27", "defaults", "stroke 27"} : Lines{"close?"};
            EXPECT_EQ(listener.calls, want);
        }
    }
}

// The first button pressed captures the mouse (1), releasing the last releases it (-1).
TEST(EventRouter, CaptureFollowsButtons) {
    OffscreenDisplay display;
    EventRouter router(display);
    EXPECT_EQ(router.button(MouseButton::Left, true, 0, 0), 1);
    EXPECT_EQ(router.button(MouseButton::Middle, true, 0, 0), 0);
    EXPECT_EQ(router.button(MouseButton::Left, false, 0, 0), 0);
    EXPECT_EQ(router.button(MouseButton::Middle, false, 0, 0), -1);
    EXPECT_EQ(router.button(MouseButton::Middle, false, 0, 0), 0); // a stray release
}

TEST(SteadyTimer, CountsForwardAndInvalidWaitsReturnAtOnce) {
    SteadyTimer timer;
    double t0 = timer.time();
    timer.wait(0.002);
    EXPECT_GT(timer.time(), t0); // a 2 ms sleep moves a steady clock
    EXPECT_GT(timer.delta(), 0.0);
    // None of these may sleep or raise: a hang here times the test out.
    for (double bad : {-1.0, std::numeric_limits<double>::quiet_NaN(),
                       std::numeric_limits<double>::infinity(), 1.0e300}) {
        timer.wait(bad);
    }
}
