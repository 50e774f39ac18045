#include "ConnectorConfig.h"
#include "StandInModelServer.h"
#include "WindowFixture.h"
#include "cleanup/ChatModel.h"
#include "cleanup/LocalModel.h"
#include "config/Autostart.h"
#include "connector/Connections.h"
#include "platform/Log.h"
#include "ui/window/ConnectionsPane.h"
#include "ui/window/GeneralTab.h"
#include "ui/window/ModelServerPane.h"
#include "ui/window/PrivacyTab.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QFrame>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <QUrl>
#include <cstdlib>

namespace {

namespace fs = std::filesystem;

QStringList items(QComboBox* box) {
    QStringList labels;
    for (int i = 0; i < box->count(); ++i) {
        labels << box->itemText(i);
    }
    return labels;
}

class SettingsTabs : public WindowFixture {
  protected:
    // The confirmation showing under `root`, if any.
    static QMessageBox* confirmation(QWidget* root) {
        for (QMessageBox* box : root->findChildren<QMessageBox*>()) {
            if (box->isVisible()) {
                return box;
            }
        }
        return nullptr;
    }

    static void answer(QWidget* root, const QString& button) {
        QMessageBox* box = confirmation(root);
        ASSERT_NE(box, nullptr);
        named<QPushButton>(box, button)->click();
        EXPECT_EQ(confirmation(root), nullptr);
    }

    // What another process of the app reads from the settings file.
    SettingsFile file() const { return SettingsFile(paths.settings()); }

    std::string logged() {
        appLog.flush();
        return readAll(logFile);
    }

    fs::path logFile = home / "log.txt";
    Log appLog{"Dictation", logFile};
};

TEST_F(SettingsTabs, GeneralWritesEveryChoiceToTheSettingsFileAndFollowsChangesMadeElsewhere) {
    GeneralTab tab(*state, *parts);
    tab.show();
    auto* key = named<QComboBox>(&tab, "Hold to talk");
    auto* look = named<QComboBox>(&tab, "Theme");
    ASSERT_NE(key, nullptr);
    ASSERT_NE(look, nullptr);
    EXPECT_EQ(items(key), QStringList({"fn", "right Alt", "right Super", "right Ctrl"}));
    EXPECT_EQ(items(look), QStringList({"Light", "Dark", "Match system"}));
    EXPECT_EQ(key->currentText(), "right Alt");

    key->setCurrentIndex(3);
    EXPECT_EQ(file().get(SettingKeys::key), HotKey::rightControl);
    EXPECT_EQ(state->key(), HotKey::rightControl);
    look->setCurrentIndex(2);
    EXPECT_EQ(file().get(SettingKeys::look), Look::matchSystem);

    auto* sound = named<QCheckBox>(&tab, "Sound when you let go");
    EXPECT_TRUE(sound->isChecked());
    sound->click();
    EXPECT_FALSE(file().get(SettingKeys::playSound));

    // The sidebar's toggle and the setup's key picker change the same values.
    state->setLook(Look::dark);
    EXPECT_EQ(look->currentText(), "Dark");
    state->setKey(HotKey::fn);
    EXPECT_EQ(key->currentText(), "fn");
    settings.set(SettingKeys::playSound, true);
    EXPECT_TRUE(sound->isChecked());

    EXPECT_FALSE(named<QCheckBox>(&tab, "Check for updates automatically")->isEnabled());
    EXPECT_TRUE(shows(&tab, "The log never holds what you said."));

    // The desktop's file handler is replaced by a text browser, which shows what it is handed.
    writeAll(paths.log(), "app started\n");
    QTextBrowser opened;
    QDesktopServices::setUrlHandler("file", &opened, "setSource");
    named<QPushButton>(&tab, "Show log")->click();
    QDesktopServices::unsetUrlHandler("file");
    EXPECT_EQ(opened.source(), QUrl::fromLocalFile(QString::fromStdString(paths.log().string())));
}

TEST_F(SettingsTabs, ReadingTheKeyboardIsOfferedOnWaylandOnlyAndOffUntilChosen) {
    const QByteArray saved = qgetenv("WAYLAND_DISPLAY");
    for (const bool wayland : {false, true}) {
        SCOPED_TRACE(wayland);
        if (wayland) {
            qputenv("WAYLAND_DISPLAY", "wayland-0");
        } else {
            qunsetenv("WAYLAND_DISPLAY");
        }
        GeneralTab tab(*state, *parts);
        tab.show();
        auto* devices = named<QCheckBox>(&tab, "Read the record key from the keyboard");
        ASSERT_NE(devices, nullptr);
        EXPECT_EQ(devices->isVisible(), wayland);
        if (wayland) {
            EXPECT_FALSE(devices->isChecked());
            devices->click();
            EXPECT_TRUE(file().get(SettingKeys::readInputDevices));
            devices->click();
            EXPECT_FALSE(file().get(SettingKeys::readInputDevices));
        }
    }
    if (saved.isEmpty()) {
        qunsetenv("WAYLAND_DISPLAY");
    } else {
        qputenv("WAYLAND_DISPLAY", saved);
    }
}

TEST_F(SettingsTabs, OfferingCrashReportsStartsFromNowSoOlderReportsAreNeverOffered) {
    GeneralTab tab(*state, *parts);
    auto* offers = named<QCheckBox>(&tab, "Offer to share crash reports");
    EXPECT_TRUE(shows(&tab, "After a crash, asks first. Never sends anything by itself."));
    EXPECT_FALSE(offers->isChecked());

    offers->click();
    EXPECT_TRUE(file().get(SettingKeys::offersCrashReports));
    const auto stored = file().get(SettingKeys::lastCrashReport);
    ASSERT_TRUE(stored.has_value());
    EXPECT_NEAR(Dates::toReferenceSeconds(*stored), Dates::toReferenceSeconds(clock->now()), 1e-3);

    // Switching off keeps the date of what was already offered.
    clock->advance(std::chrono::hours(1));
    offers->click();
    EXPECT_FALSE(file().get(SettingKeys::offersCrashReports));
    EXPECT_EQ(file().get(SettingKeys::lastCrashReport), stored);
}

TEST_F(SettingsTabs, OpenAtLoginWritesAndRemovesTheAutostartEntryAndReportsAFailure) {
    GeneralTab tab(*state, *parts);
    tab.show();
    auto* opens = named<QCheckBox>(&tab, "Open at login");
    EXPECT_FALSE(opens->isChecked());
    opens->click();
    EXPECT_EQ(readAll(paths.autostart()), Autostart::entry("Dictation", paths.executable()));
    EXPECT_TRUE(opens->isChecked());
    opens->click();
    EXPECT_FALSE(fs::exists(paths.autostart()));

    // A file where the autostart folder belongs.
    fs::remove(paths.autostart().parent_path());
    writeAll(paths.autostart().parent_path(), "not a folder");
    std::string description;
    try {
        Autostart::set(paths, true);
    } catch (const FileError& error) {
        description = error.description();
    }
    ASSERT_FALSE(description.empty());
    opens->click();
    EXPECT_FALSE(opens->isChecked());
    EXPECT_TRUE(
        shows(&tab, QString::fromStdString("Couldn't change Open at login: " + description)));
    EXPECT_NE(logged().find("open at login: " + description), std::string::npos);
    EXPECT_EQ(readAll(paths.autostart().parent_path()), "not a folder");
}

class ConnectionsTab : public SettingsTabs {
  protected:
    void SetUp() override {
        SettingsTabs::SetUp();
        pane = std::make_unique<ConnectionsPane>(paths);
    }
    void TearDown() override {
        pane.reset();
        if (path) {
            ::setenv("PATH", path->c_str(), 1);
        }
    }

    fs::path cursor() const { return ConnectedApps::config(ConnectedApp::cursor, paths); }
    fs::path claude() const { return ConnectedApps::config(ConnectedApp::claude, paths); }

    QWidget* row(const QString& app) { return named<QFrame>(pane.get(), app); }
    QPushButton* button(const QString& app, const QString& label) {
        QPushButton* found = named<QPushButton>(row(app), label);
        return found && found->isVisibleTo(pane.get()) ? found : nullptr;
    }
    bool showsConnected(const QString& app) { return shows(row(app), "Connected"); }

    // Processes events until the change is back on the main thread.
    bool waitForChange() {
        // Drained first, so the worker's hand-off is seen before the events that carry it.
        pane->waitForWorker();
        QElapsedTimer timer;
        timer.start();
        while (pane->busy() && timer.elapsed() < 30'000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return !pane->busy();
    }

    void connectAfterConfirming(const QString& app) {
        QPushButton* connect = button(app, "Connect");
        ASSERT_NE(connect, nullptr);
        connect->click();
        QMessageBox* box = confirmation(pane.get());
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->text(), "Let " + app + " read your dictations?");
        EXPECT_EQ(box->informativeText(), "What it reads may be sent to the company that runs it.");
        answer(pane.get(), "Connect");
        ASSERT_TRUE(waitForChange());
    }

    // A search path holding only `bin`, restored after the test.
    void searchOnly(const fs::path& bin) {
        path = std::getenv("PATH") ? std::getenv("PATH") : "";
        ::setenv("PATH", (bin.string() + ":/usr/bin:/bin").c_str(), 1);
    }

    std::unique_ptr<ConnectionsPane> pane;
    std::optional<std::string> path;
};

TEST_F(ConnectionsTab, ConnectsAfterTheConfirmationAndRemovesAtOnce) {
    const std::string others = R"({"mcpServers":{"notes":{"command":"notes"}},"theme":"dark"})";
    writeAll(cursor(), others);
    pane->show();
    EXPECT_TRUE(shows(pane.get(), "Let AI apps on this computer search your dictations and notes. "
                                  "They can read, never change."));
    EXPECT_TRUE(shows(row("Claude"), "The desktop app. Reopen it after connecting."));
    EXPECT_FALSE(showsConnected("Cursor"));

    // Dismissing the question changes nothing.
    button("Cursor", "Connect")->click();
    answer(pane.get(), "Cancel");
    EXPECT_FALSE(pane->busy());
    EXPECT_EQ(readAll(cursor()), others);

    button("Cursor", "Connect")->click();
    answer(pane.get(), "Connect");
    EXPECT_EQ(pane->busy(), ConnectedApp::cursor);
    ASSERT_NE(button("Cursor", "Connecting…"), nullptr);
    EXPECT_FALSE(button("Cursor", "Connecting…")->isEnabled());
    EXPECT_FALSE(button("Claude", "Connect")->isEnabled());
    ASSERT_TRUE(waitForChange());

    EXPECT_TRUE(showsConnected("Cursor"));
    EXPECT_TRUE(ConnectorConfig::isConnected(readAll(cursor())));
    EXPECT_NE(readAll(cursor()).find("\"notes\""), std::string::npos);
    ASSERT_NE(button("Cursor", "Remove"), nullptr);
    EXPECT_EQ(button("Cursor", "Connect"), nullptr);

    button("Cursor", "Remove")->click();
    EXPECT_EQ(confirmation(pane.get()), nullptr);
    ASSERT_TRUE(waitForChange());
    EXPECT_FALSE(showsConnected("Cursor"));
    EXPECT_FALSE(ConnectorConfig::isConnected(readAll(cursor())));
    EXPECT_NE(readAll(cursor()).find("\"theme\""), std::string::npos);
}

TEST_F(ConnectionsTab, AFailureIsShownAndLoggedByTypeUntilTheNextChange) {
    writeAll(cursor(), "[1, 2, 3]\n");
    pane->show();
    connectAfterConfirming("Cursor");
    EXPECT_TRUE(
        shows(pane.get(), "Cursor's settings file couldn't be read, so nothing was changed."));
    EXPECT_EQ(readAll(cursor()), "[1, 2, 3]\n");
    EXPECT_FALSE(fs::exists(cursor().string() + ".parlwick-backup"));
    EXPECT_NE(logged().find("connection: Unreadable"), std::string::npos);

    // Claude's folder is missing: nothing is created.
    connectAfterConfirming("Claude");
    EXPECT_FALSE(
        shows(pane.get(), "Cursor's settings file couldn't be read, so nothing was changed."));
    EXPECT_TRUE(shows(pane.get(), "Couldn't change Claude. Is it installed?"));
    EXPECT_FALSE(fs::exists(claude().parent_path()));
    EXPECT_NE(logged().find("connection: AppError"), std::string::npos);

    // Once it is installed, the same button works and the problem goes.
    fs::create_directories(claude().parent_path());
    connectAfterConfirming("Claude");
    EXPECT_FALSE(shows(pane.get(), "Couldn't change Claude. Is it installed?"));
    EXPECT_TRUE(showsConnected("Claude"));
    EXPECT_EQ(modeOf(claude()), 0600u);
}

TEST_F(ConnectionsTab, ClaudeCodeRunsItsOwnCommandAndIsDetectedFromItsFile) {
    TempDir bin;
    const fs::path own = paths.homes().home / ".claude.json";
    // A stand-in that keeps its registrations where the real one does.
    writeAll(bin / "claude", "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + (bin / "calls").string() +
                                 "'\nif [ \"$2\" = add ]; then echo '{\"mcpServers\":{\"parlwick\":"
                                 "{}}}' > '" +
                                 own.string() + "'; else echo '{}' > '" + own.string() + "'; fi\n");
    ::chmod((bin / "claude").c_str(), 0755);
    fs::create_directories(own.parent_path());
    searchOnly(bin.path());
    pane->show();
    EXPECT_FALSE(showsConnected("Claude Code"));

    connectAfterConfirming("Claude Code");
    EXPECT_TRUE(showsConnected("Claude Code"));
    ASSERT_NE(button("Claude Code", "Remove"), nullptr);
    button("Claude Code", "Remove")->click();
    ASSERT_TRUE(waitForChange());
    EXPECT_FALSE(showsConnected("Claude Code"));
    EXPECT_EQ(readAll(bin / "calls"), "mcp\nadd\n--scope\nuser\nparlwick\n--\n" +
                                          paths.executable().string() +
                                          "\n--mcp\nmcp\nremove\n--scope\nuser\nparlwick\n");

    // Without the command the change fails, and a registration made elsewhere shows on return.
    fs::remove(bin / "claude");
    connectAfterConfirming("Claude Code");
    EXPECT_TRUE(shows(pane.get(), "Couldn't change Claude Code. Is it installed?"));
    writeAll(own, R"({"mcpServers":{"parlwick":"anything"}})");
    pane->hide();
    pane->show();
    EXPECT_TRUE(showsConnected("Claude Code"));
}

TEST_F(ConnectionsTab, CopySetupPutsTheEntryOnTheClipboard) {
    QGuiApplication::clipboard()->setText("something of the user's");
    pane->show();
    auto* copy = named<QPushButton>(row("Any other app"), "Copy setup");
    ASSERT_NE(copy, nullptr);
    EXPECT_TRUE(shows(pane.get(), "Paste this into its MCP settings."));
    copy->click();
    EXPECT_EQ(copy->text(), "Copied");
    const std::string copied = QGuiApplication::clipboard()->text().toStdString();
    EXPECT_EQ(copied, ConnectedApps::copyable(paths));
    EXPECT_TRUE(ConnectorConfig::isConnected(copied));
    EXPECT_NE(copied.find(paths.executable().string()), std::string::npos);
}

TEST_F(SettingsTabs, PrivacyWritesRetentionAndRecordingsAndAppliesTheShorterLimitAtOnce) {
    dictate("from two days ago", clock->now() - std::chrono::hours(48));
    dictate("from this morning", clock->now() - std::chrono::hours(2));
    PrivacyTab tab(*parts);
    tab.show();
    auto* keep = named<QComboBox>(&tab, "Keep history");
    ASSERT_NE(keep, nullptr);
    EXPECT_EQ(items(keep), QStringList({"Don't save", "24 hours", "30 days", "Until I delete it"}));
    EXPECT_EQ(keep->currentText(), "30 days");
    for (const char* text :
         {"Speech is turned into text on this computer.",
          "Word counts and the days you talked are kept for your rank and streak after history "
          "expires. They never include what you said.",
          "Deleted with their history entry.", "Skips password fields the desktop can detect.",
          "Removes the app and everything it keeps on this computer, including the speech "
          "model."}) {
        EXPECT_TRUE(shows(&tab, text)) << text;
    }

    keep->setCurrentIndex(1);
    EXPECT_EQ(file().get(SettingKeys::retention), Retention::day);
    ASSERT_EQ(history->entries().size(), 1u);
    EXPECT_EQ(history->entries()[0].text, "from this morning");

    auto* recordings = named<QCheckBox>(&tab, "Keep recordings");
    recordings->click();
    EXPECT_TRUE(file().get(SettingKeys::keepAudio));
    settings.set(SettingKeys::retention, Retention::forever);
    EXPECT_EQ(keep->currentText(), "Until I delete it");
}

TEST_F(SettingsTabs, DeleteAllAsksFirstAndDeletesOnlyAfterDelete) {
    int deletions = 0;
    parts->deleteAll = [&deletions] { ++deletions; };
    PrivacyTab tab(*parts);
    tab.show();
    auto* deleteAll = named<QPushButton>(&tab, "Delete all dictations");
    ASSERT_NE(deleteAll, nullptr);

    deleteAll->click();
    QMessageBox* box = confirmation(&tab);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "Delete all history and recordings?");
    EXPECT_EQ(box->informativeText(), "History, recordings, timings, rank and streak. Words, "
                                      "snippets, notes and voice recordings stay.");
    answer(&tab, "Cancel");
    EXPECT_EQ(deletions, 0);

    deleteAll->click();
    answer(&tab, "Delete");
    EXPECT_EQ(deletions, 1);
}

TEST_F(SettingsTabs, UninstallAsksWithTheAppsNameAndRunsOnlyAfterUninstall) {
    int uninstalls = 0;
    parts->uninstall = [&uninstalls] { ++uninstalls; };
    PrivacyTab tab(*parts);
    tab.show();
    auto* uninstall = named<QPushButton>(&tab, "Uninstall…");
    ASSERT_NE(uninstall, nullptr);
    ASSERT_TRUE(uninstall->isEnabled());

    uninstall->click();
    QMessageBox* box = confirmation(&tab);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "Uninstall Dictation and delete everything?");
    EXPECT_EQ(box->informativeText(),
              "History, recordings, words, snippets, notes, settings and the speech model are "
              "deleted, and the app goes to the Trash. This can't be undone.");
    answer(&tab, "Cancel");
    EXPECT_EQ(uninstalls, 0);

    uninstall->click();
    answer(&tab, "Uninstall");
    EXPECT_EQ(uninstalls, 1);
}

TEST_F(SettingsTabs, ALocalModelIsChosenTriedAndAnotherComputerOnlyWithConsent) {
    const StandInModelServer editing("edit"), answering("answer");
    LocalModel local(settings);
    ModelServerPane pane(settings, local);
    pane.show();
    const auto enter = [&](const QString& name, const std::string& text) {
        auto* box = named<QComboBox>(&pane, name);
        QLineEdit* edit = box ? box->lineEdit() : named<QLineEdit>(&pane, name);
        ASSERT_NE(edit, nullptr) << name.toStdString();
        edit->setText(QString::fromStdString(text));
        QTest::keyClick(edit, Qt::Key_Return);
    };
    const auto settled = [&] { return QTest::qWaitFor([&] { return !local.isBusy(); }, 8000); };

    named<QCheckBox>(&pane, "Tidy with a local model")->click();
    EXPECT_TRUE(file().get(SettingKeys::tidyWithModel));
    enter("Server address", "ftp://models.example.net/v1");
    EXPECT_TRUE(shows(&pane, "Use an http or https address."));
    EXPECT_EQ(file().get(SettingKeys::modelEndpoint), std::nullopt);

    enter("Server address", editing.endpoint());
    ASSERT_TRUE(settled());
    EXPECT_EQ(file().get(SettingKeys::modelEndpoint), editing.endpoint());
    EXPECT_EQ(items(named<QComboBox>(&pane, "Model")),
              (QStringList{"qwen2.5-1.5b-instruct", "llama-3.2-3b-instruct"}));
    enter("Model", "qwen2.5-1.5b-instruct");
    EXPECT_EQ(file().get(SettingKeys::modelName), "qwen2.5-1.5b-instruct");

    // The trial: the first example, and whether the guard keeps the answer.
    const struct {
        const StandInModelServer& server;
        const char* verdict;
    } trials[] = {{editing, "It kept every word"}, {answering, "It changed the words"}};
    for (const auto& trial : trials) {
        enter("Server address", trial.server.endpoint());
        ASSERT_TRUE(settled());
        named<QPushButton>(&pane, "Test")->click();
        ASSERT_TRUE(settled());
        EXPECT_TRUE(named<QLabel>(&pane, "Test result")->text().contains(trial.verdict))
            << named<QLabel>(&pane, "Test result")->text().toStdString();
    }

    // Another computer: nothing is stored until the user agrees.
    const std::string remote = "https://models.example.net/v1";
    enter("Server address", remote);
    answer(&pane, "Cancel");
    EXPECT_EQ(file().get(SettingKeys::modelEndpoint), answering.endpoint());
    EXPECT_FALSE(ChatModel::chosen(file()).has_value() &&
                 ChatModel::chosen(file())->endpoint == remote);
    enter("Server address", remote);
    answer(&pane, "Send");
    EXPECT_EQ(file().get(SettingKeys::modelEndpoint), remote);
    EXPECT_EQ(ChatModel::chosen(file())->endpoint, remote);
}

} // namespace
