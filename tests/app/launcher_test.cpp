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

TEST(Launcher, DemoStartsAndRecordsTheBoxes) {
    LauncherResults r;
    FakeView v(r);
    v.fullScreenState = 1;
    EXPECT_TRUE(launcherProcedure(r, v, LauncherMessage::Command, LauncherDemo));
    EXPECT_TRUE(r.startRequested);
    EXPECT_TRUE(r.fullScreen);
    EXPECT_FALSE(r.force720p);
    EXPECT_EQ(v.log, (std::vector<std::string>{"close", "destroy", "quit 0"}));
}

TEST(Launcher, EscapeAndTitleBarCloseRecordTheBoxesButDoNotStart) {
    for (bool byEscape : {true, false}) {
        LauncherResults r;
        FakeView v(r);
        v.force720pState = 2; // any state above 0 counts as ticked
        if (byEscape)
            EXPECT_TRUE(launcherProcedure(r, v, LauncherMessage::Command, LauncherCancel));
        else
            EXPECT_TRUE(launcherProcedure(r, v, LauncherMessage::Close));
        EXPECT_FALSE(r.startRequested);
        EXPECT_FALSE(r.fullScreen);
        EXPECT_TRUE(r.force720p);
        EXPECT_EQ(v.log.back(), "quit 0");
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

TEST(CommandLine, NoArgumentsIsTheLauncher) {
    Options o = parse({});
    EXPECT_TRUE(o.launcher);
    EXPECT_FALSE(o.fullScreen || o.force720p || o.help);
    EXPECT_TRUE(o.error.empty());
}

TEST(CommandLine, OptionsAnswerTheDialog) {
    Options o = parse({"--no-launcher"});
    EXPECT_FALSE(o.launcher);
    EXPECT_FALSE(o.fullScreen || o.force720p);
    o = parse({"--fullscreen", "--force-720p"});
    EXPECT_FALSE(o.launcher);
    EXPECT_TRUE(o.fullScreen && o.force720p);
    o = parse({"--force-720p"});
    EXPECT_FALSE(o.launcher || o.fullScreen);
    EXPECT_TRUE(o.force720p);
    EXPECT_TRUE(parse({"--help"}).help);
    EXPECT_NE(std::string(usageText()).find("--force-720p"), std::string::npos);
}

TEST(CommandLine, UnknownArgumentsAreOneLineErrors) {
    for (const char* bad : {"--fullscreen=1", "-x", "data", ""}) {
        Options o = parse({"--no-launcher", bad});
        EXPECT_FALSE(o.error.empty()) << bad;
        EXPECT_EQ(o.error.find('\n'), std::string::npos);
    }
}

TEST(Application, FieldsStartAtTheirDefaultsAndTheListenerKeepsItsOwn) {
    Application app(std::make_unique<Framebuffer::OffscreenDisplay>());
    EXPECT_EQ(app.renderWidth, 640);
    EXPECT_EQ(app.renderHeight, 360);
    EXPECT_EQ(app.windowWidth, 640);
    EXPECT_EQ(app.windowHeight, 480);
    EXPECT_FALSE(app.fullScreen);
    EXPECT_FALSE(app.quitRequested);
    EXPECT_FALSE(app.freeCamera);
    EXPECT_EQ(app.duid, 0);
    EXPECT_EQ(app.cameraPosition.x, 0.0f);
    EXPECT_EQ(app.cameraAngles.z, 0.0f);
    EXPECT_TRUE(app.handlesDefaultKeys());
    app.keyDown(&app.display, 'W');
    EXPECT_FALSE(app.quitRequested);
    EXPECT_TRUE(app.closeRequested(&app.display));
    EXPECT_TRUE(app.quitRequested);
}

TEST(Application, EscapeEndsThroughTheDisplay) {
    auto own = std::make_unique<Framebuffer::OffscreenDisplay>();
    Framebuffer::OffscreenDisplay* screen = own.get();
    Application app(std::move(own));
    ASSERT_TRUE(app.display.open("t", 64, 48, Framebuffer::OutputWindow, 0));
    app.display.setListener(&app);
    screen->queueKeyDown(Framebuffer::VkEscape);
    for (int i = 0; i < 3 && app.display.lockFrame(); ++i)
        app.display.present();
    EXPECT_TRUE(app.quitRequested);
    EXPECT_FALSE(app.display.isOpen());
}

TEST(Application, CloseRequestIsGranted) {
    auto own = std::make_unique<Framebuffer::OffscreenDisplay>();
    Framebuffer::OffscreenDisplay* screen = own.get();
    Application app(std::move(own));
    ASSERT_TRUE(app.display.open("t", 64, 48, Framebuffer::OutputWindow, 0));
    app.display.setListener(&app);
    screen->queueClose();
    for (int i = 0; i < 3 && app.display.lockFrame(); ++i)
        app.display.present();
    EXPECT_TRUE(app.quitRequested);
    EXPECT_FALSE(app.display.isOpen());
}

} // namespace
} // namespace lumo
