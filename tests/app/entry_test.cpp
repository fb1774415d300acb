// The program's entry: the launcher dialog, the command line, the keys that end
// the demo and the debug keys, the main loop on an offscreen display, and where
// the data is found.

#include "app/application.h"
#include "app/debug_keys.h"
#include "app/entry.h"
#include "app/launcher.h"
#include "app/mainloop.h"
#include "app/options.h"
#include "audio/audio.h"
#include "display/display.h"
#include "display/offscreen_display.h"
#include "render/simd.h"
#include "tests/e2e/testmp3.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace lumo {
namespace {

namespace fs = std::filesystem;

// Behaves like the dialog: a sent close is handled at once, and destroying the
// dialog delivers its destroy message.
class FakeView : public LauncherView {
public:
    explicit FakeView(LauncherResults& r) : results(r) {}
    void addListEntry(LauncherControl control, const char* text) override {
        log += "add " + std::to_string(int(control)) + " " + text + "; ";
    }
    void selectListEntry(LauncherControl control, int index) override {
        log += "select " + std::to_string(int(control)) + " " + std::to_string(index) + "; ";
    }
    void sendClose() override {
        log += "close; ";
        launcherProcedure(results, *this, LauncherMessage::Close);
    }
    int checkState(LauncherControl control) override {
        return control == LauncherControl::FullScreen         ? fullScreenState
               : control == LauncherControl::Force720p        ? force720pState
               : control == LauncherControl::NativeResolution ? nativeState
                                                              : 0;
    }
    void destroy() override {
        log += "destroy; ";
        launcherProcedure(results, *this, LauncherMessage::Destroy);
    }
    void postQuit(int code) override { log += "quit " + std::to_string(code) + "; "; }

    LauncherResults& results;
    std::string log;
    int fullScreenState = 0;
    int force720pState = 0;
    int nativeState = 0;
};

// "native resolution" plays full screen at the screen's size, whatever the
// other boxes say; "force 720p" alone forces the 1280 x 720 mode.
TEST(Launcher, ResultsSetUpTheDemo) {
    Application app(std::make_unique<Framebuffer::OffscreenDisplay>());
    applyLauncherResults({true, false, true, true}, app);
    EXPECT_TRUE(app.fullScreen && app.nativeResolution);
    EXPECT_EQ(Framebuffer::forceFullscreenMode, 0);
    applyLauncherResults({true, false, true, false}, app);
    EXPECT_TRUE(!app.fullScreen && !app.nativeResolution);
    EXPECT_EQ(Framebuffer::forceFullscreenMode, 1);
    applyLauncherResults({true, true, false, false}, app);
    EXPECT_TRUE(app.fullScreen && !app.nativeResolution);
    EXPECT_EQ(Framebuffer::forceFullscreenMode, 0);
}

TEST(Launcher, InitialisesTheDecorativeListInOrder) {
    LauncherResults r;
    FakeView v(r);
    EXPECT_FALSE(launcherProcedure(r, v, LauncherMessage::Initialise));
    const std::string expected = "add 1003 idle; add 1003 away; add 1003 hiatus; add 1003 resting; "
                                 "add 1003 vacation; add 1003 stone cold chillin'; select 1003 0; ";
    EXPECT_EQ(v.log, expected);
    // The boxes and the list need nothing from the dialog's procedure.
    for (LauncherControl id :
         {LauncherControl::FullScreen, LauncherControl::GpuList, LauncherControl(1006)}) {
        EXPECT_FALSE(launcherProcedure(r, v, LauncherMessage::Command, id));
    }
    EXPECT_EQ(v.log, expected);
    EXPECT_FALSE(r.startRequested);
}

// The demo button starts; Escape and the title bar's close do not. All three record the
// boxes (any state above 0 counts as ticked) and end the dialog.
TEST(Launcher, ButtonsAndCloseRecordTheBoxes) {
    for (int way = 0; way < 3; ++way) {
        LauncherResults r;
        FakeView v(r);
        v.fullScreenState = way == 0 ? 1 : 0;
        v.force720pState = way == 0 ? 0 : 2;
        v.nativeState = way == 1 ? 1 : 0;
        EXPECT_TRUE(way == 2 ? launcherProcedure(r, v, LauncherMessage::Close)
                             : launcherProcedure(r, v, LauncherMessage::Command,
                                                 way == 0 ? LauncherControl::Demo
                                                          : LauncherControl::Cancel));
        EXPECT_EQ(r.startRequested, way == 0);
        EXPECT_EQ(r.fullScreen, way == 0);
        EXPECT_EQ(r.force720p, way != 0);
        EXPECT_EQ(r.nativeResolution, way == 1);
        EXPECT_EQ(v.log, way == 2 ? "destroy; quit 0; " : "close; destroy; quit 0; ") << way;
    }
}

// Parses the arguments in `line`, separated by spaces.
Options parse(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words{std::istream_iterator<std::string>(in), {}};
    std::vector<const char*> args = {"lumo"};
    for (const std::string& word : words) {
        args.push_back(word.c_str());
    }
    return parseCommandLine(int(args.size()), args.data());
}

TEST(CommandLine, OptionsAnswerTheDialogOrPickAModeAndMistakesAreOneLineErrors) {
    Options o = parse("");
    EXPECT_TRUE(o.launcher && !o.fullScreen && !o.force720p && !o.help && o.error.empty());
    o = parse("--no-launcher");
    EXPECT_TRUE(!o.launcher && !o.fullScreen && !o.force720p && o.error.empty());
    o = parse("--fullscreen --force-720p");
    EXPECT_TRUE(!o.launcher && o.fullScreen && o.force720p && o.error.empty());
    EXPECT_TRUE(parse("--help").help);
    o = parse("--capture out --fps 10 --from 1.5 --to 3");
    EXPECT_EQ(std::tuple(o.error, o.captureDirectory, o.fps, o.from, o.to),
              std::tuple("", "out", 10, 1.5, 3.0));
    o = parse("--capture out --png-level 9");
    EXPECT_EQ(std::tuple(o.error, o.pngLevel), std::tuple("", 9));
    EXPECT_EQ(parse("--capture out").pngLevel, kDefaultPngLevel);
    o = parse("--video a.mp4 --video-quality best");
    EXPECT_TRUE(o.error.empty() && o.videoQuality == VideoQuality::Best) << o.error;
    EXPECT_TRUE(parse("--video a.mp4 --video-quality good").videoQuality == VideoQuality::Good);
    EXPECT_TRUE(parse("--video a.mp4").videoQuality == VideoQuality::Fast);
    o = parse("--no-vsync --no-launcher");
    EXPECT_TRUE(!o.vsync && !o.launcher && o.error.empty());
    o = parse("--bench --threads 1,2,4 --frames 1");
    EXPECT_EQ(std::tuple(o.error, o.threadList, o.frames),
              std::tuple("", std::vector<int>{1, 2, 4}, 1));
    for (const char* option : {"--force-720p", "--capture DIR", "--video FILE.mp4", "--json",
                               "--png-level N", "--video-quality fast|good|best"}) {
        EXPECT_NE(std::string(usageText()).find(option), std::string::npos) << option;
    }

    // The entry point prints the one line and exits with 2.
    for (const char* bad : {"--fullscreen=1",
                            "data",
                            "--capture",
                            "--capture o --from 3 --to 2",
                            "--capture o --video a.mp4",
                            "--capture o --fps 0",
                            "--capture o --threads 1,2",
                            "--bench --threads 1,,2",
                            "--fps 30",
                            "--no-vsync --frame 3 --out f.png",
                            "--capture o --png-level 10",
                            "--capture o --png-level -1",
                            "--capture o --png-level x",
                            "--capture o --png-level",
                            "--png-level 3",
                            "--video a.mp4 --png-level 3",
                            "--video a.mp4 --video-quality medium",
                            "--video a.mp4 --video-quality",
                            "--capture o --video-quality best",
                            "--frame 1 --out f.png --video-quality fast"}) {
        Options e = parse(bad);
        EXPECT_FALSE(e.error.empty()) << bad;
        EXPECT_EQ(e.error.find('\n'), std::string::npos) << bad;
    }
}

TEST(MainLoopParts, FrameCheckAndStatistics) {
    // Frames must be true colour with rows of the window's width.
    for (auto [format, pitch, notTrueColor, unexpectedStride] :
         {std::tuple{1, 2560, false, false}, {9, 2560, true, false}, {1, 2564, false, true}}) {
        FrameCheck c = checkFrame({format, nullptr, pitch}, 640);
        EXPECT_EQ(c.notTrueColor, notTrueColor) << format << " " << pitch;
        EXPECT_EQ(c.unexpectedStride, unexpectedStride) << format << " " << pitch;
    }

    // The first statistics line comes after more than five seconds, the next at least
    // five seconds later.
    FrameStatistics s;
    for (auto [now, line] :
         {std::pair{0.0, false}, {5.0, false}, {5.01, true}, {10.0, false}, {10.02, true}}) {
        EXPECT_EQ(s.frameDone(0.01, now), line) << now;
    }
    // The average starts at 0 and moves a tenth of the way each frame.
    FrameStatistics t;
    t.frameDone(0.1, 0.0);
    EXPECT_DOUBLE_EQ(t.fps(), 1.0 / (0.1 * 0.1));
    t.frameDone(0.1, 0.0);
    EXPECT_DOUBLE_EQ(t.fps(), 1.0 / (0.01 * 0.9 + 0.1 * 0.1));

    // The presentation line: intervals since the last line, and the processor
    // time as a share of all the processors; the next period starts afresh.
    for (double at : {0.5, 0.51, 0.53, 0.54, 0.58}) {
        t.framePresented(at);
    }
    EXPECT_EQ(t.presentedLine(1.0, 0.5, 2),
              "presented: 4 frames in 1.0 s, interval median 15.00 ms, 95th percentile 40.00 "
              "ms, processor use 25% of 2, " +
                  std::string(simdPathName(activeSimdPath())) + " path\n");
    EXPECT_EQ(t.presentedLine(3.0, 1.5, 2).substr(0, 30), "presented: 0 frames in 2.0 s, ");

    // The window's close button ends the demo as Escape does.
    Application app;
    EXPECT_TRUE(app.closeRequested(nullptr) && app.quitRequested);
}

// Stands in for the window: an offscreen display that closes itself after five
// frames, as a user pressing Escape would; it can also hand out a frame of the
// wrong shape.
class ScriptedDisplay : public Framebuffer::DisplayInterface {
public:
    bool open(const char* t, int w, int h, int output, int mode) override {
        return inner.open(t, w, h, output, mode);
    }
    void close() override { inner.close(); }
    Framebuffer::FrameDescriptor* lockFrame() override {
        if (locks == 5) {
            inner.close();
        }
        Framebuffer::FrameDescriptor* f = inner.lockFrame();
        if (!f) {
            return nullptr;
        }
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
    int extraPitch = 0;
    int locks = 0, presents = 0;
};

// A program directory with data/j2.mp3 in it, and the application on a
// ScriptedDisplay.
class Program : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("lumo_loop_" + std::to_string(::getpid()));
        fs::create_directories(dir_ / "data");
        auto own = std::make_unique<ScriptedDisplay>();
        display_ = own.get();
        app_ = std::make_unique<Application>(std::move(own));
        ASSERT_TRUE(test::writeTestMp3((dir_ / "data/j2.mp3").string(), 44100));
    }
    void TearDown() override { fs::remove_all(dir_); }
    int run() {
        ::testing::internal::CaptureStdout();
        int status = demoMainLoop(*app_, (dir_ / "data").string() + "/");
        out = ::testing::internal::GetCapturedStdout();
        return status;
    }

    fs::path dir_;
    ScriptedDisplay* display_ = nullptr;
    std::unique_ptr<Application> app_;
    std::string out;
};

// The window's size and title, Escape and the console lines are end-to-end
// cases.
TEST_F(Program, PlaysFramesUntilTheDisplayCloses) {
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(display_->locks, 5);
    EXPECT_EQ(display_->presents, 5);
}

// A missing file is an end-to-end case; with a window open the run would not
// end.
TEST_F(Program, BrokenMusicEndsBeforeAnyWindow) {
    std::ofstream(dir_ / "data/j2.mp3") << std::string(5000, 'x');
    EXPECT_EQ(run(), 1);
    EXPECT_NE(out.find("error (41) while creating stream\n"), std::string::npos) << out;
    // The audio library was released: it can start again.
    ASSERT_TRUE(audioInit(audioDefaultDevice, 44100));
    audioFree();
}

TEST_F(Program, WrongStrideStopsThroughTheNormalShutdown) {
    display_->extraPitch = 4;
    EXPECT_EQ(run(), 1);
    EXPECT_NE(out.find("!!!! unexpected display framebuffer stride !!!!\n"), std::string::npos);
    EXPECT_EQ(out.find("not truecolor"), std::string::npos);
    EXPECT_EQ(display_->locks, 1);
    EXPECT_EQ(display_->presents, 0);
    // Shut down normally: the audio library is free again.
    ASSERT_TRUE(audioInit(audioDefaultDevice, 44100));
    audioFree();
}

// dir_ is a prefix with bin/, share/lumo/ and data/ in it.
TEST_F(Program, DataIsFoundBesideTheProgramThenUnderItsPrefixThenInTheCurrentDirectory) {
    const fs::path bin = dir_ / "bin", share = dir_ / "share/lumo";
    fs::create_directories(bin / "data");
    fs::create_directories(share);
    // Each location in turn, the ones before it missing.
    EXPECT_EQ(findDataDirectory(bin.string()), (bin / "data").string() + "/");
    fs::remove_all(bin / "data");
    EXPECT_EQ(findDataDirectory(bin.string()), share.string() + "/");
    fs::remove_all(share);
    EXPECT_EQ(findDataDirectory(bin.string()), "data/");
    EXPECT_EQ(findDataDirectory(""), "data/");
    // A file of that name is no directory.
    std::ofstream(bin / "data") << "x";
    EXPECT_EQ(findDataDirectory(bin.string()), "data/");
}

TEST_F(Program, MissingOrIncompleteDataIsOneLineNamingTheFile) {
    const fs::path bin = dir_ / "bin", share = dir_ / "share/lumo";
    fs::create_directories(bin);
    const std::string installed = share.string() + "/";
    // No data anywhere: the places looked in.
    EXPECT_EQ(missingData((dir_ / "none").string() + "/", bin.string()),
              "the demo's data is missing: no " + (bin / "data").string() + ", " + share.string() +
                  " or ./data directory");
    // An installed directory must have its list; a hand-made one need not.
    fs::create_directories(share / "meshes");
    EXPECT_EQ(missingData(installed, bin.string()),
              "the demo's data is incomplete: " + installed + "contents.txt is missing");
    EXPECT_EQ(missingData((dir_ / "data").string() + "/", bin.string()), "");
    // With a list: every file of it there, whatever its size now.
    std::ofstream(share / "contents.txt") << "varpile.txt\nmeshes/a b.obj\n";
    std::ofstream(share / "varpile.txt") << "abc";
    EXPECT_EQ(missingData(installed, bin.string()),
              "the demo's data is incomplete: " + installed + "meshes/a b.obj is missing");
    fs::create_directories(share / "meshes/a b.obj");
    EXPECT_EQ(missingData(installed, bin.string()),
              "the demo's data is incomplete: " + installed + "meshes/a b.obj is missing");
    fs::remove(share / "meshes/a b.obj");
    std::ofstream(share / "meshes/a b.obj") << "";
    EXPECT_EQ(missingData(installed, bin.string()), "");
}

// Every stroke, auto-repeats and keys without a use included, prints the camera
// after it.
TEST(DebugKeys, StrokesMoveTurnPresetCountAndPrintTheCamera) {
    vec4 position{0, -32, -160, 0}, angles{};
    bool freeCamera = false;
    int32_t duid = 0;
    float gtn = 3.9f;
    auto press = [&](const std::string& keys) { // one stroke per character
        testing::internal::CaptureStdout();
        for (char key : keys) {
            debugKeyStroke({position, angles, freeCamera, duid, gtn}, key);
        }
        return testing::internal::GetCapturedStdout();
    };
    EXPECT_EQ(press("W "), "addcam(0.000000,-32.000000,-156.000000,0.000000,0.000000,0.000000);\n"
                           "addcam(0.000000,-32.000000,-156.000000,0.000000,0.000000,0.000000);\n");
    press("WAZUHII");
    EXPECT_EQ(position, vec4(4, -36, -152, 0));
    EXPECT_EQ(angles, vec4(0.1f, -0.1f, 0.1f + 0.1f, 0));
    press("5=");
    EXPECT_EQ(angles, vec4(1.3f, -2.1f, 0, 0));
    EXPECT_EQ(position, vec4(-272, 24, -4, 0));
    EXPECT_TRUE(freeCamera);
    EXPECT_EQ(press("48"), "addcam(0.000000,0.000000,0.000000,0.000000,0.000000,0.000000);\n"
                           "gtn is now      3.8900\n"
                           "addcam(0.000000,0.000000,0.000000,0.000000,0.000000,0.000000);\n");
    float expected = float(double(float(double(gtn) + 0.01)) + 0.01);
    press("99");
    EXPECT_EQ(gtn, expected); // each step rounds back to float
    EXPECT_EQ(press("77").substr(0, 14), "duid is now 1\n");
    EXPECT_EQ(duid, 2);
}

} // namespace
} // namespace lumo
