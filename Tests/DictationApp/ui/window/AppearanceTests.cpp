// "Match system" against a real session bus, with and without a portal that answers.
#include "BackgroundProcess.h"
#include "OffscreenWidgets.h"
#include "TestSupport.h"
#include "ui/window/Appearance.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QPalette>
#include <QSignalSpy>
#include <cstdlib>

namespace {

class AppearanceTest : public OffscreenWidgets {
  protected:
    void SetUp() override {
        if (const char* missing = std::getenv("PARLWICK_DESKTOP_MISSING")) {
            GTEST_SKIP() << "no session bus: " << missing;
        }
    }

    // The portal's settings, answering `scheme` until told otherwise, and the animations
    // setting when given.
    std::unique_ptr<BackgroundProcess> portal(int scheme, const std::string& animations = {}) {
        const auto ready = folder / "ready";
        std::filesystem::remove(ready);
        std::vector<std::string> command{PORTAL_SETTINGS, std::to_string(scheme), ready.string()};
        if (!animations.empty()) {
            command.push_back(animations);
        }
        auto process = std::make_unique<BackgroundProcess>(command);
        EXPECT_TRUE(eventually([&] { return std::filesystem::exists(ready); }, 10));
        return process;
    }

    static void setScheme(unsigned scheme) {
        auto call = QDBusMessage::createMethodCall("org.freedesktop.portal.Desktop",
                                                   "/org/freedesktop/portal/desktop",
                                                   "org.parlwick.Test", "SetScheme");
        call << scheme;
        QDBusConnection::sessionBus().call(call);
    }

    static bool paletteIsDark() {
        return QApplication::palette().color(QPalette::Window).lightness() < 128;
    }

    TempDir folder;
};

TEST_F(AppearanceTest, WithoutAPortalMatchSystemFollowsThePlatformTheme) {
    EXPECT_EQ(Appearance::systemPrefersDark(), std::nullopt);
    Appearance appearance;
    appearance.apply(Look::matchSystem);
    EXPECT_EQ(appearance.isDark(), paletteIsDark());
    appearance.apply(Look::dark);
    EXPECT_TRUE(appearance.isDark());
    EXPECT_TRUE(paletteIsDark());
}

TEST_F(AppearanceTest, MatchSystemFollowsThePortalsColourSchemeAsItChanges) {
    const auto running = portal(1);
    EXPECT_EQ(Appearance::systemPrefersDark(), true);
    Appearance appearance;
    appearance.apply(Look::matchSystem);
    EXPECT_TRUE(appearance.isDark());
    EXPECT_TRUE(paletteIsDark());

    QSignalSpy changed(&appearance, &Appearance::changed);
    setScheme(2);
    ASSERT_TRUE(changed.wait(5000));
    EXPECT_FALSE(appearance.isDark());
    EXPECT_FALSE(paletteIsDark());

    // A chosen look stays as chosen whatever the desktop says.
    appearance.apply(Look::light);
    setScheme(1);
    EXPECT_FALSE(changed.wait(500));
    EXPECT_FALSE(appearance.isDark());

    setScheme(0);
    EXPECT_EQ(Appearance::systemPrefersDark(), std::nullopt) << "no preference";
}

TEST_F(AppearanceTest, LessMotionWhenTheDesktopsAnimationsAreOff) {
    struct Case {
        std::string animations; // empty: the portal does not say
        bool less;
    };
    const std::vector<Case> cases{{"false", true}, {"true", false}, {"", false}};
    for (const auto& c : cases) {
        auto settings = portal(0, c.animations);
        EXPECT_EQ(Appearance::systemPrefersLessMotion(), c.less) << "animations " << c.animations;
        settings.reset();
    }
    EXPECT_FALSE(Appearance::systemPrefersLessMotion()) << "no portal says nothing";
}

} // namespace
