#include "app/application.h"
#include "app/entry.h"
#include "app/launcher.h"
#include "app/options.h"
#include "display/display.h"
#include "display/keys.h"
#include "display/offscreen_display.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumo {
namespace {

// Behaves like the dialog: a sent close is handled at once, and destroying the
// dialog delivers its destroy message.
class FakeView : public LauncherView {
public:
    explicit FakeView(LauncherResults& r) : results(r) {}
    void addListEntry(int control, const char* text) override {
        log.push_back("add " + std::to_string(control) + " " + text);
    }
    void selectListEntry(int control, int index) override {
        log.push_back("select " + std::to_string(control) + " " + std::to_string(index));
    }
    void sendClose() override {
        log.push_back("close");
        launcherProcedure(results, *this, LauncherMessage::Close);
    }
    int checkState(int control) override {
        return control == LauncherFullScreen ? fullScreenState : force720pState;
    }
    void destroy() override {
        log.push_back("destroy");
        launcherProcedure(results, *this, LauncherMessage::Destroy);
    }
    void postQuit(int code) override { log.push_back("quit " + std::to_string(code)); }

    LauncherResults& results;
    std::vector<std::string> log;
    int fullScreenState = 0;
    int force720pState = 0;
};

TEST(Launcher, InitialisesTheDecorativeListInOrder) {
    LauncherResults r;
    FakeView v(r);
    EXPECT_FALSE(launcherProcedure(r, v, LauncherMessage::Initialise));
    std::vector<std::string> expected = {
        "add 1003 idle",    "add 1003 away",     "add 1003 hiatus",
        "add 1003 resting", "add 1003 vacation", "add 1003 stone cold chillin'",
        "select 1003 0",
    };
    EXPECT_EQ(v.log, expected);
    EXPECT_STREQ(launcherTitle, "lumo 2013");
}

// The demo button starts; Escape and the title bar's close do not. All three record the
// boxes (any state above 0 counts as ticked) and end the dialog.
TEST(Launcher, ButtonsAndCloseRecordTheBoxes) {
    for (int way = 0; way < 3; ++way) {
        LauncherResults r;
        FakeView v(r);
        v.fullScreenState = way == 0 ? 1 : 0;
        v.force720pState = way == 0 ? 0 : 2;
        if (way == 2) {
            EXPECT_TRUE(launcherProcedure(r, v, LauncherMessage::Close));
        } else {
            EXPECT_TRUE(launcherProcedure(r, v, LauncherMessage::Command,
                                          way == 0 ? LauncherDemo : LauncherCancel));
        }
        EXPECT_EQ(r.startRequested, way == 0);
        EXPECT_EQ(r.fullScreen, way == 0);
        EXPECT_EQ(r.force720p, way != 0);
        EXPECT_EQ(v.log.back(), "quit 0");
        if (way == 0) {
            EXPECT_EQ(v.log, (std::vector<std::string>{"close", "destroy", "quit 0"}));
        }
    }
}

TEST(Launcher, OtherControlsAreNotHandled) {
    LauncherResults r;
    FakeView v(r);
    for (int id : {int(LauncherFullScreen), int(LauncherGpuList), int(LauncherForce720p), 0, 1005})
        EXPECT_FALSE(launcherProcedure(r, v, LauncherMessage::Command, id));
    EXPECT_TRUE(v.log.empty());
    EXPECT_FALSE(r.startRequested);
}

TEST(Launcher, ResultsBecomeDisplaySettings) {
    Application app(std::make_unique<Framebuffer::OffscreenDisplay>());
    Framebuffer::forcedModeWidth = 11;
    Framebuffer::forcedModeHeight = 22;
    applyLauncherResults({true, false, false}, app);
    EXPECT_EQ(Framebuffer::forceFullscreenMode, 0);
    EXPECT_EQ(Framebuffer::forcedModeWidth, 11); // written only with force 720p
    EXPECT_FALSE(app.fullScreen);

    applyLauncherResults({true, true, true}, app);
    EXPECT_EQ(Framebuffer::forceFullscreenMode, 1);
    EXPECT_EQ(Framebuffer::forcedModeWidth, 1280);
    EXPECT_EQ(Framebuffer::forcedModeHeight, 720);
    EXPECT_TRUE(app.fullScreen);
    Framebuffer::forceFullscreenMode = 0;
}

Options parse(std::vector<const char*> args) {
    args.insert(args.begin(), "lumo");
    return parseCommandLine(int(args.size()), args.data());
}

TEST(CommandLine, OptionsAnswerTheDialogAndUnknownArgumentsAreOneLineErrors) {
    struct Case {
        std::vector<const char*> args;
        bool launcher, fullScreen, force720p;
    };
    for (const Case& c :
         {Case{{}, true, false, false}, Case{{"--no-launcher"}, false, false, false},
          Case{{"--fullscreen", "--force-720p"}, false, true, true},
          Case{{"--force-720p"}, false, false, true}}) {
        Options o = parse(c.args);
        EXPECT_TRUE(o.error.empty()) << o.error;
        EXPECT_EQ(o.launcher, c.launcher) << c.args.size();
        EXPECT_EQ(o.fullScreen, c.fullScreen) << c.args.size();
        EXPECT_EQ(o.force720p, c.force720p) << c.args.size();
        EXPECT_FALSE(o.help);
    }
    EXPECT_TRUE(parse({"--help"}).help);
    EXPECT_NE(std::string(usageText()).find("--force-720p"), std::string::npos);
    for (const char* bad : {"--fullscreen=1", "-x", "data", ""}) {
        Options o = parse({"--no-launcher", bad});
        EXPECT_FALSE(o.error.empty()) << bad;
        EXPECT_EQ(o.error.find('\n'), std::string::npos);
    }
}

TEST(Application, KeysAndCloseRequestsEndThroughTheDisplay) {
    for (bool byEscape : {true, false}) {
        auto own = std::make_unique<Framebuffer::OffscreenDisplay>();
        Framebuffer::OffscreenDisplay* screen = own.get();
        Application app(std::move(own));
        EXPECT_TRUE(app.handlesDefaultKeys());
        app.keyDown(&app.display, 'W');
        EXPECT_FALSE(app.quitRequested);
        ASSERT_TRUE(app.display.open("t", 64, 48, Framebuffer::OutputWindow, 0));
        app.display.setListener(&app);
        if (byEscape) {
            screen->queueKeyDown(Framebuffer::VkEscape);
        } else {
            screen->queueClose();
        }
        for (int i = 0; i < 3 && app.display.lockFrame(); ++i)
            app.display.present();
        EXPECT_TRUE(app.quitRequested);
        EXPECT_FALSE(app.display.isOpen());
    }
}

} // namespace
} // namespace lumo
