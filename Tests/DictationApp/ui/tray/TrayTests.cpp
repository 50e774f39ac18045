// The tray icon over real tray hosts in the test's private desktop: a status notifier host of
// the test's own on the session bus, trayer's older embedding, and no host at all.
#include "BackgroundProcess.h"
#include "DesktopSupport.h"
#include "WindowFixture.h"
#include "ui/tray/StatusMenu.h"
#include "ui/window/Icons.h"
#include "ui/window/MainWindow.h"
#include "ui/window/MainWindowView.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

namespace {

using DesktopSupport::waitUntil;

// A widgets application on the test's X display.
class TrayTest : public testing::Test, public WindowWorld {
  protected:
    static void SetUpTestSuite() {
        if (!DesktopSupport::missingDesktop().empty()) {
            return;
        }
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        static int argc = 1;
        static char name[] = "tray-tests";
        static char* argv[] = {name, nullptr};
        app = new QApplication(argc, argv);
    }
    static void TearDownTestSuite() {
        delete app;
        app = nullptr;
    }

    void SetUp() override {
        if (const std::string missing = DesktopSupport::missingDesktop(); !missing.empty()) {
            GTEST_SKIP() << missing;
        }
    }

    static inline QApplication* app = nullptr;
    const QString appName = QString::fromStdString(paths.appName());
    DictationState dictation;
};

// A desktop panel that shows status notifier items, run before the first tray icon exists
// (Qt decides once per run which kind of tray to speak to).
class NotifierHostTest : public TrayTest {
  protected:
    void SetUp() override {
        TrayTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        host = std::make_unique<BackgroundProcess>(
            std::vector<std::string>{STATUS_NOTIFIER_HOST, "watch", (folder / "ready").string(),
                                     (folder / "items").string(), (folder / "notices").string()});
        ASSERT_TRUE(eventually([&] { return std::filesystem::exists(folder / "ready"); }, 10))
            << "the status notifier host did not start";
        menu = std::make_unique<StatusMenu>(*state, dictation, paths.appName());
        ASSERT_TRUE(waitUntil([&] { return !readAll(folder / "items").empty(); }, 10))
            << "the tray icon never registered with the host";
        const QStringList registered =
            QString::fromStdString(readAll(folder / "items")).trimmed().split(' ');
        ASSERT_EQ(registered.size(), 2);
        service = registered[0];
        path = registered[1];
    }

    // The item and its menu as the panel sees them.
    QJsonObject item() {
        const std::string json =
            DesktopSupport::run("/usr/bin/python3", {STATUS_NOTIFIER_HOST, "read", service, path});
        const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(json));
        EXPECT_TRUE(document.isObject()) << json;
        return document.object();
    }
    // Of the icon's largest picture: "visible" pixels, and the share of them that is "red".
    static double picture(const QJsonObject& item, const char* key) {
        return item["IconPixmap"].toObject()[QLatin1String(key)].toDouble();
    }
    static QJsonObject entry(const QJsonObject& item, const QString& label) {
        for (const auto value : item["menu"].toArray()) {
            if (value.toObject()["label"].toString() == label) {
                return value.toObject();
            }
        }
        ADD_FAILURE() << "no menu item " << label.toStdString();
        return {};
    }

    TempDir folder;
    std::unique_ptr<BackgroundProcess> host;
    std::unique_ptr<StatusMenu> menu;
    QString service;
    QString path;
};

TEST_F(NotifierHostTest, TheMenuListsItsItemsInOrderWithTheStatusLineDisabled) {
    state->setStatus("Hold right Alt to talk");
    const QJsonObject shown = item();
    QStringList rows;
    for (const auto value : shown["menu"].toArray()) {
        const QJsonObject row = value.toObject();
        rows << (row["type"].toString() == "separator" ? "—" : row["label"].toString());
    }
    EXPECT_EQ(rows,
              QStringList({"Hold right Alt to talk", "—", "Open " + appName, "Retry Last Dictation",
                           "Check for Updates…", "—", "Quit " + appName}));
    EXPECT_FALSE(entry(shown, "Hold right Alt to talk")["enabled"].toBool());
    EXPECT_TRUE(entry(shown, "Open " + appName)["enabled"].toBool());
    EXPECT_TRUE(entry(shown, "Quit " + appName)["enabled"].toBool());
    EXPECT_EQ(entry(shown, "Quit " + appName)["shortcut"].toArray(),
              QJsonArray({QJsonArray({"Control", "Q"})}))
        << QJsonDocument(shown).toJson().toStdString();
    EXPECT_EQ(shown["ToolTip"].toString(), appName);
    EXPECT_EQ(shown["Status"].toString(), "Active");

    // The status line follows the shared status text.
    state->setStatus("Waiting for Accessibility permission");
    EXPECT_FALSE(entry(item(), "Waiting for Accessibility permission")["enabled"].toBool(true));
}

TEST_F(NotifierHostTest, RetryFollowsCanRetryAndUpdatesNeedAnUpdater) {
    bool retryable = false;
    int retries = 0;
    int checks = 0;
    menu->canRetry = [&] { return retryable; };
    menu->onRetry = [&] { ++retries; };
    QJsonObject shown = item();
    EXPECT_FALSE(entry(shown, "Retry Last Dictation")["enabled"].toBool(true));
    EXPECT_FALSE(entry(shown, "Check for Updates…")["enabled"].toBool(true)) << "no updater";

    // Asked again when the panel opens the menu.
    retryable = true;
    menu->onCheckForUpdates = [&] { ++checks; };
    shown = item();
    EXPECT_TRUE(entry(shown, "Retry Last Dictation")["enabled"].toBool());
    EXPECT_TRUE(entry(shown, "Check for Updates…")["enabled"].toBool());
    DesktopSupport::run("/usr/bin/python3",
                        {STATUS_NOTIFIER_HOST, "click", service, path, "Retry Last Dictation"});
    DesktopSupport::run("/usr/bin/python3",
                        {STATUS_NOTIFIER_HOST, "click", service, path, "Check for Updates…"});
    EXPECT_TRUE(waitUntil([&] { return retries == 1 && checks == 1; }));

    // And when the controller says the chance has gone.
    retryable = false;
    dictation.setCanRetry(true);
    dictation.setCanRetry(false);
    EXPECT_FALSE(menu->retryItem().isEnabled());
    EXPECT_FALSE(entry(item(), "Retry Last Dictation")["enabled"].toBool(true));
}

TEST_F(NotifierHostTest, TheIconTurnsRedWhileListeningAndBack) {
    const QString plainName = Icons::tray(false).name();
    QJsonObject shown = item();
    EXPECT_EQ(shown["IconName"].toString(), plainName);
    if (plainName.isEmpty()) {
        // No icon theme here: our own drawing travels as pixels.
        EXPECT_GT(picture(shown, "visible"), 0);
    }
    EXPECT_LT(picture(shown, "red"), 0.1);

    dictation.listen();
    EXPECT_TRUE(menu->isRecording());
    shown = item();
    EXPECT_EQ(shown["IconName"].toString(), "") << "our red microphone, in no theme";
    EXPECT_GT(picture(shown, "visible"), 0);
    EXPECT_GT(picture(shown, "red"), 0.9);
    EXPECT_EQ(shown["ToolTip"].toString(), appName);

    dictation.work();
    shown = item();
    EXPECT_EQ(shown["IconName"].toString(), plainName);
    EXPECT_LT(picture(shown, "red"), 0.1);
    EXPECT_FALSE(menu->isRecording());
}

TEST_F(NotifierHostTest, QuitFromThePanelCallsOnQuitAndOpenCallsOnOpen) {
    EXPECT_TRUE(QSystemTrayIcon::isSystemTrayAvailable());
    EXPECT_TRUE(state->hasTray());
    int quits = 0;
    int opens = 0;
    menu->onQuit = [&] { ++quits; };
    menu->onOpen = [&] { ++opens; };
    DesktopSupport::run("/usr/bin/python3",
                        {STATUS_NOTIFIER_HOST, "click", service, path, "Open " + appName});
    EXPECT_TRUE(waitUntil([&] { return opens == 1; }));
    DesktopSupport::run("/usr/bin/python3",
                        {STATUS_NOTIFIER_HOST, "click", service, path, "Quit " + appName});
    EXPECT_TRUE(waitUntil([&] { return quits == 1; }));
    EXPECT_EQ(opens, 1);
}

TEST_F(NotifierHostTest, ALeftClickOpensTheWindow) {
    int opens = 0;
    menu->onOpen = [&] { ++opens; };
    DesktopSupport::run("/usr/bin/python3", {STATUS_NOTIFIER_HOST, "activate", service, path});
    EXPECT_TRUE(waitUntil([&] { return opens == 1; }));
}

TEST_F(NotifierHostTest, MessagesGoToTheDesktopsNotifications) {
    menu->showMessage("Update available", "Version 2.0 is out.");
    ASSERT_TRUE(waitUntil([&] { return !readAll(folder / "notices").empty(); }, 10));
    const QJsonObject notice =
        QJsonDocument::fromJson(QByteArray::fromStdString(readAll(folder / "notices"))).object();
    EXPECT_EQ(notice["summary"].toString(), "Update available");
    EXPECT_EQ(notice["body"].toString(), "Version 2.0 is out.");
}

// trayer's older embedding, taking the tray selection before the first icon exists.
class TrayerTest : public TrayTest {
  protected:
    void SetUp() override {
        TrayTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        if (!std::filesystem::exists("/usr/bin/trayer")) {
            GTEST_SKIP() << "trayer is not installed (scripts/setup.sh installs it)";
        }
        trayer = std::make_unique<DesktopSupport::Child>(
            "trayer", QStringList{"--edge", "top", "--align", "right", "--widthtype", "pixel",
                                  "--width", "120", "--heighttype", "pixel", "--height", "28"});
        ASSERT_TRUE(waitUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 10))
            << "trayer never took the tray selection";
    }

    std::unique_ptr<DesktopSupport::Child> trayer;
};

TEST_F(TrayerTest, TheIconIsEmbeddedInThePanel) {
    StatusMenu menu(*state, dictation, paths.appName());
    EXPECT_TRUE(state->hasTray());
    // Embedded: the icon has a size once trayer has taken it in (Qt knows its place only
    // relative to trayer's strip).
    EXPECT_TRUE(waitUntil([&] { return menu.icon().geometry().width() > 0; }, 10));
    EXPECT_LE(menu.icon().geometry().height(), 28);
}

TEST_F(TrayerTest, QuitFromItsMenuEndsTheProgramWithTheWindowOpenOrNot) {
    StatusMenu menu(*state, dictation, paths.appName());
    MainWindow window(*state, *parts, "1.2.3");
    menu.onQuit = [&] { window.quitApplication(); };
    for (const bool open : {true, false}) {
        SCOPED_TRACE(open ? "window open" : "window closed");
        if (open) {
            window.show();
        } else {
            window.hide();
        }
        // As a user does: the icon's menu, its last item.
        ASSERT_TRUE(waitUntil([&] { return menu.icon().geometry().x() > 0; }, 10))
            << "the icon's place on the screen never came";
        const QRect icon = menu.icon().geometry();
        QTimer::singleShot(100, &menu, [icon] {
            DesktopSupport::xdotool({"mousemove", QString::number(icon.center().x()),
                                     QString::number(icon.center().y()), "click", "3"});
        });
        QTimer::singleShot(600, &menu, [] { DesktopSupport::xdotool({"key", "Up", "Return"}); });
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
        guard.start(10'000);
        EXPECT_EQ(QApplication::exec(), 0) << "the program did not end";
        EXPECT_FALSE(window.isVisible());
    }
}

TEST_F(TrayTest, WithoutAHostTheMainWindowSaysHowToComeBackAndTheLogSaysSoOnce) {
    EXPECT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    MainWindow window(*state, *parts, "1.2.3");
    window.show();
    const QString line = MainWindowView::noTrayText(appName);
    EXPECT_FALSE(shows(window.widget(), line)) << "assumed there is a tray until told";

    LogCapture log;
    StatusMenu menu(*state, dictation, paths.appName());
    menu.setRecording(true);
    menu.setRecording(false);
    EXPECT_FALSE(state->hasTray());
    EXPECT_TRUE(shows(window.widget(), line));
    const std::string logged = log.text();
    EXPECT_NE(logged.find("no system tray: "), std::string::npos) << logged;
    EXPECT_EQ(logged.find("no system tray: "), logged.rfind("no system tray: ")) << logged;
}

} // namespace
