// The setup model's desktop checks against a real X server and session bus (the private desktop
// of desktop-session.sh), and a second X server without XTEST.
#include "DesktopSupport.h"
#include "SetupWorld.h"
#include "setup/DesktopChecks.h"
#include "ui/setup/SetupWindow.h"

#include <QApplication>
#include <QStringList>

namespace {

using namespace DesktopSupport;

// A widgets application on the session's display, for one case.
struct DisplayApplication {
    DisplayApplication() : app((qputenv("QT_QPA_PLATFORM", "xcb"), argc), argv) {}
    static inline int argc = 1;
    static inline char name[] = "setup-desktop-tests";
    static inline char* argv[] = {name, nullptr};
    QApplication app;
};

// This desktop's checks, with a microphone that is always there (the sound server is another
// suite's).
SetupModel::Checks desktopChecks() {
    SetupModel::Checks checks = DesktopChecks::make("parlwick-tests");
    checks.microphone = [] {
        return SetupModel::MicrophoneCheck{SetupModel::Microphone::granted, true, {}};
    };
    return checks;
}

class SetupOnADesktop : public testing::Test {
  protected:
    void SetUp() override {
        if (const std::string why = missingDesktop(); !why.empty()) {
            GTEST_SKIP() << why;
        }
    }
};

TEST_F(SetupOnADesktop, XTestAndTheAccessibilityBusGrantAccessibility) {
    DisplayApplication display;
    SetupWorld world(true, desktopChecks());
    EXPECT_EQ(world.model->missingDesktopAccess(), "");
    EXPECT_EQ(world.model->missingFieldChecks(), "");
    EXPECT_TRUE(world.model->accessibility());
    EXPECT_TRUE(world.model->isComplete());
}

TEST_F(SetupOnADesktop, AccessGrantedWhileTheWindowIsOpenShowsAtTheNextTick) {
    DisplayApplication display;
    const std::string session = std::getenv("DISPLAY");
    std::unique_ptr<Child> server;
    const std::string withoutXTest = startServerWithoutXTest(server);
    ASSERT_FALSE(withoutXTest.empty()) << "no Xvfb without XTEST could be started";
    // The checks follow $DISPLAY; the window stays on the session's display.
    ::setenv("DISPLAY", withoutXTest.c_str(), 1);
    SetupWorld world(true, desktopChecks());
    EXPECT_FALSE(world.model->accessibility());
    EXPECT_EQ(world.model->missingDesktopAccess(), "the X server has no XTEST extension");
    world.window->show();
    EXPECT_TRUE(world.label("So it can type into other apps. Parlwick needs an X11 session, or "
                            "apps in Xwayland windows.\nMissing here: the X server has no XTEST "
                            "extension."));
    EXPECT_TRUE(world.label("2 of 3 done"));
    EXPECT_TRUE(world.visible("Later"));
    EXPECT_FALSE(world.settings.get(SettingKeys::hasCompletedSetup));

    ::setenv("DISPLAY", session.c_str(), 1);
    world.tick();
    EXPECT_TRUE(world.label("Allowed. It can type into other apps."));
    EXPECT_TRUE(world.label("3 of 3 done"));
    EXPECT_TRUE(world.visible("Start talking"));
    EXPECT_TRUE(world.settings.get(SettingKeys::hasCompletedSetup));
}

TEST_F(SetupOnADesktop, WithoutASessionBusFieldChecksAreMissing) {
    // No application here: Qt would reach the real bus first.
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    ::setenv("XDG_RUNTIME_DIR", "/nonexistent", 1);
    EXPECT_EQ(DesktopChecks::missingAccessibilityBus(), "no D-Bus session bus");
}

TEST_F(SetupOnADesktop, ABusThatDoesNotAnswerLeavesFieldChecksMissing) {
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
    EXPECT_EQ(DesktopChecks::missingAccessibilityBus(), "the session bus does not answer");
}

TEST_F(SetupOnADesktop, TheSessionsAccessibilityBusIsFound) {
    EXPECT_EQ(DesktopChecks::missingAccessibilityBus(), "");
}

} // namespace
