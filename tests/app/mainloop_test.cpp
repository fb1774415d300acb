#include "app/application.h"
#include "app/entry.h"
#include "app/mainloop.h"
#include "audio/audio.h"
#include "display/offscreen_display.h"
#include "tests/e2e/testmp3.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <tuple>

namespace lumo {
namespace {

namespace fs = std::filesystem;

// The loop reads seconds from the music's byte position (the player's conversion is tested
// with the audio code) and turns them into rows.
TEST(RowClock, FortyFourThirdsRowsPerSecond) {
    EXPECT_EQ(rowFromSeconds(1.5), 22.0);
    EXPECT_EQ(rowFromSeconds(0.75), 11.0);
    EXPECT_EQ(rowFromSeconds(0.0), 0.0);
}

TEST(FrameCheck, NeedsTrueColourRowsOfTheWindowWidth) {
    for (auto [format, pitch, notTrueColor, unexpectedStride] : {std::tuple{1, 2560, false, false},
                                                                 {9, 2560, true, false},
                                                                 {1, 2564, false, true},
                                                                 {2, 640 * 16, true, true}}) {
        FrameCheck c = checkFrame({format, nullptr, pitch}, 640);
        EXPECT_EQ(c.notTrueColor, notTrueColor) << format << " " << pitch;
        EXPECT_EQ(c.unexpectedStride, unexpectedStride) << format << " " << pitch;
    }
}

TEST(FrameStatistics, FirstLineAfterFiveSecondsThenAtLeastFiveApart) {
    FrameStatistics s;
    EXPECT_FALSE(s.frameDone(0.01, 0.0));
    EXPECT_FALSE(s.frameDone(0.01, 5.0)); // must exceed five seconds
    EXPECT_TRUE(s.frameDone(0.01, 5.01));
    EXPECT_FALSE(s.frameDone(0.01, 10.0));
    EXPECT_TRUE(s.frameDone(0.01, 10.02));
    // The average starts at 0 and moves a tenth of the way each frame.
    FrameStatistics t;
    t.frameDone(0.1, 0.0);
    EXPECT_DOUBLE_EQ(t.fps(), 1.0 / (0.1 * 0.1));
    t.frameDone(0.1, 0.0);
    EXPECT_DOUBLE_EQ(t.fps(), 1.0 / (0.01 * 0.9 + 0.1 * 0.1));
}

// Stands in for the window: an offscreen display that records how it was
// opened and closes itself after a number of frames, as a user pressing Escape
// would; it can also hand out a frame of the wrong shape.
class ScriptedDisplay : public Framebuffer::DisplayInterface {
public:
    bool open(const char* t, int w, int h, int output, int mode) override {
        ++opens;
        title = t;
        width = w;
        height = h;
        this->output = output;
        return inner.open(t, w, h, output, mode);
    }
    void close() override { inner.close(); }
    Framebuffer::FrameDescriptor* lockFrame() override {
        if (locks == framesBeforeClose)
            inner.close();
        Framebuffer::FrameDescriptor* f = inner.lockFrame();
        if (!f)
            return nullptr;
        ++locks;
        shaped = *f;
        shaped.pitch += extraPitch;
        return &shaped;
    }
    void present() override {
        ++presents;
        inner.present();
    }
    bool isOpen() const override { return inner.isOpen(); }

    Framebuffer::OffscreenDisplay inner;
    Framebuffer::FrameDescriptor shaped;
    int framesBeforeClose = 5;
    int extraPitch = 0;
    int opens = 0, locks = 0, presents = 0;
    std::string title;
    int width = 0, height = 0, output = 0;
};

class MainLoop : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("lumo_loop_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_ / "data");
        auto own = std::make_unique<ScriptedDisplay>();
        display_ = own.get();
        app_ = std::make_unique<Application>(std::move(own));
        Framebuffer::forceFullscreenMode = 0;
    }
    void TearDown() override {
        app_.reset();
        fs::remove_all(dir_);
        Framebuffer::forceFullscreenMode = 0;
    }
    void addMusic() { ASSERT_TRUE(test::writeTestMp3((dir_ / "data/j2.mp3").string(), 44100)); }
    std::string data() const { return (dir_ / "data").string() + "/"; }
    int run(std::string& out) {
        ::testing::internal::CaptureStdout();
        int status = demoMainLoop(*app_, data());
        out = ::testing::internal::GetCapturedStdout();
        return status;
    }

    fs::path dir_;
    ScriptedDisplay* display_ = nullptr;
    std::unique_ptr<Application> app_;
};

TEST_F(MainLoop, PlaysFramesUntilTheDisplayCloses) {
    addMusic();
    std::string out;
    EXPECT_EQ(run(out), 0);
    EXPECT_EQ(display_->opens, 1);
    EXPECT_EQ(display_->title, "lumo ^_^");
    EXPECT_EQ(display_->width, 640);
    EXPECT_EQ(display_->height, 480);
    EXPECT_EQ(display_->output, Framebuffer::OutputWindow);
    EXPECT_EQ(display_->locks, 5);
    EXPECT_EQ(display_->presents, 5);
    EXPECT_EQ(app_->cameraPosition.z, -160.0f);
    EXPECT_NE(out.find("playing silently"), std::string::npos) << out;
    EXPECT_EQ(out.find("fps:"), std::string::npos); // statistics are off by default
}

TEST_F(MainLoop, ForcedModeMakesA360RowFrameAndFullScreenIsPassedOn) {
    addMusic();
    Framebuffer::forceFullscreenMode = 1;
    app_->fullScreen = true;
    std::string out;
    EXPECT_EQ(run(out), 0);
    EXPECT_EQ(display_->height, 360);
    EXPECT_EQ(display_->output, Framebuffer::OutputFullscreen);
}

TEST_F(MainLoop, MissingOrBrokenMusicEndsBeforeAnyWindow) {
    std::string out;
    EXPECT_EQ(run(out), 1);
    EXPECT_NE(out.find("error (2) while creating stream\n"), std::string::npos) << out;
    std::ofstream(dir_ / "data/j2.mp3") << std::string(5000, 'x');
    EXPECT_EQ(run(out), 1);
    EXPECT_NE(out.find("error (41) while creating stream\n"), std::string::npos) << out;
    EXPECT_EQ(display_->opens, 0);
    // The audio library was released: it can start again.
    ASSERT_TRUE(audioInit(audioDefaultDevice, 44100));
    audioFree();
}

TEST_F(MainLoop, WrongStrideStopsThroughTheNormalShutdown) {
    addMusic();
    display_->extraPitch = 4;
    std::string out;
    EXPECT_EQ(run(out), 1);
    EXPECT_NE(out.find("!!!! unexpected display framebuffer stride !!!!\n"), std::string::npos);
    EXPECT_EQ(out.find("not truecolor"), std::string::npos);
    EXPECT_EQ(display_->locks, 1);
    EXPECT_EQ(display_->presents, 0);
    // Shut down normally: the audio library is free again.
    ASSERT_TRUE(audioInit(audioDefaultDevice, 44100));
    audioFree();
}

TEST(DataDirectory, BesideTheProgramElseCurrentDirectory) {
    fs::path dir = fs::temp_directory_path() / ("lumo_datadir_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    EXPECT_EQ(findDataDirectory(dir.string()), "data/");
    EXPECT_EQ(findDataDirectory(""), "data/");
    fs::create_directories(dir / "data");
    EXPECT_EQ(findDataDirectory(dir.string()), (dir / "data").string() + "/");
    fs::remove_all(dir);
    EXPECT_FALSE(programDirectory().empty());
}

} // namespace
} // namespace lumo
