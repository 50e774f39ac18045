// The General tab's update switch and line, over a real updater checking a feed on a real nginx.
#include "FeedSigning.h"
#include "HttpServers.h"
#include "PostedWork.h"
#include "WindowFixture.h"
#include "ui/window/GeneralTab.h"
#include "updates/Updates.h"

#include <QCheckBox>
#include <QLabel>

namespace {

class UpdatesLine : public WindowFixture {
  protected:
    void serve(const std::string& version) {
        writeAll(
            server.root() / "appcast.xml",
            signer.sign(R"(<rss xmlns:sparkle="http://www.example.org/sparkle"><channel><item>)"
                        "<sparkle:version>" +
                        version + "</sparkle:version><link>https://parlwick.example/releases?v=" +
                        version + "&amp;from=app</link></item></channel></rss>"));
    }

    void checkNow() {
        updates.checkNow();
        ASSERT_TRUE(posted.runUntil([&] { return !updates.isChecking(); }, 30));
    }

    FeedSigner signer;
    WebServer server;
    PostedWork posted;
    Updates updates{server.address() + "/appcast.xml",
                    signer.publicKey(),
                    "1.0.0",
                    settings,
                    scheduler,
                    posted.deliver()};
};

TEST_F(UpdatesLine, TheSwitchIsEnabledOnlyWithAnUpdaterAndTurnsTheDailyCheckOnAndOff) {
    {
        GeneralTab without(*state, *parts);
        auto* automatic = named<QCheckBox>(&without, "Check for updates automatically");
        ASSERT_NE(automatic, nullptr);
        EXPECT_FALSE(automatic->isEnabled()) << "no updater in this build";
        EXPECT_FALSE(automatic->isChecked());
    }
    parts->updates = &updates;
    GeneralTab tab(*state, *parts);
    tab.show();
    auto* automatic = named<QCheckBox>(&tab, "Check for updates automatically");
    ASSERT_NE(automatic, nullptr);
    EXPECT_TRUE(automatic->isEnabled());
    EXPECT_TRUE(automatic->isChecked());
    EXPECT_EQ(scheduler.pending(), 2u) << "the check soon after start and the daily one";

    automatic->click();
    EXPECT_FALSE(SettingsFile(paths.settings()).get(SettingKeys::checksForUpdates));
    EXPECT_EQ(scheduler.pending(), 0u);
    automatic->click();
    EXPECT_TRUE(SettingsFile(paths.settings()).get(SettingKeys::checksForUpdates));
    EXPECT_EQ(scheduler.pending(), 2u);

    // Another view switching it follows through to the tab.
    updates.setChecksAutomatically(false);
    EXPECT_FALSE(automatic->isChecked());
}

TEST_F(UpdatesLine, ANewerReleaseShowsALineWithALinkToItsPage) {
    parts->updates = &updates;
    GeneralTab tab(*state, *parts);
    tab.show();
    auto* line = named<QLabel>(&tab, "Updates");
    ASSERT_NE(line, nullptr);
    EXPECT_FALSE(line->isVisibleTo(&tab));

    serve("1.0.0");
    checkNow();
    EXPECT_TRUE(line->isVisibleTo(&tab));
    EXPECT_EQ(line->text(), "You're up to date.");

    serve("1.2");
    checkNow();
    EXPECT_TRUE(line->isVisibleTo(&tab));
    EXPECT_EQ(line->text(), "A newer version, 1.2, is available. <a "
                            "href=\"https://parlwick.example/releases?v=1.2&amp;from=app\">Open "
                            "the release page</a>");
    EXPECT_TRUE(line->openExternalLinks());
}

} // namespace
