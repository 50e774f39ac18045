// The setup window offscreen, over a setup model whose checks answer what each case sets.
#include "OffscreenWidgets.h"
#include "SetupWorld.h"
#include "ui/setup/SetupView.h"

#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <fstream>

namespace {

using Microphone = SetupModel::Microphone;
using Download = SetupModel::Download;

class SetupWindowTest : public OffscreenWidgets {};

TEST_F(SetupWindowTest, EachStateShowsItsTextsMarksAndCount) {
    struct Row {
        Microphone microphone;
        bool soundServer;
        std::string missingAccess;
        std::string missingFieldChecks;
        Download download;
        QString microphoneText, accessibilityText, downloadText, count;
        std::vector<QString> marks; // microphone, accessibility, model
    };
    const QString allowedMicrophone = "Allowed. It only listens while you hold the key.";
    const QString allowedAccess = "Allowed. It can type into other apps.";
    const QString ready = "Ready. Transcription runs offline.";
    const std::vector<Row> rows{
        {Microphone::granted,
         true,
         "",
         "",
         Download::of(Download::State::done, 0),
         allowedMicrophone,
         allowedAccess,
         ready,
         "3 of 3 done",
         {"done", "done", "done"}},
        {Microphone::denied,
         true,
         "",
         "",
         Download::of(Download::State::waiting, 0),
         "No input found. Plug in or pick a microphone in Sound settings.",
         allowedAccess,
         "About 575 MB, downloaded once. Transcription then runs offline.",
         "1 of 3 done",
         {"to do", "done", "to do"}},
        {Microphone::denied,
         false,
         "the X server has no XTEST extension",
         "",
         Download::progress(42),
         "No sound server answers. Start PulseAudio or PipeWire, then plug in a microphone.",
         "So it can type into other apps. Parlwick needs an X11 session, or apps in Xwayland "
         "windows.\nMissing here: the X server has no XTEST extension.",
         "Downloading, 42%. You can keep going.",
         "0 of 3 done",
         {"to do", "to do", "to do"}},
        {Microphone::notAsked,
         true,
         "",
         "no accessibility bus (at-spi2-core)",
         Download::of(Download::State::failed, 0),
         "So it can hear you while you hold the key. Nothing is recorded otherwise.",
         // Dictation works without it: a warning on a step that is done.
         allowedAccess + "\nPassword fields can't be told apart, so it types into them like "
                         "any field. Install at-spi2-core and log in again to fix that. Missing "
                         "here: no accessibility bus (at-spi2-core).",
         "The download didn't finish. Check your connection and try again.",
         "1 of 3 done",
         {"to do", "done", "to do"}},
        {Microphone::granted,
         true,
         "",
         "",
         Download::of(Download::State::measuring, 0),
         allowedMicrophone,
         allowedAccess,
         "Measuring how fast this computer transcribes, to choose the speech model that suits "
         "it.",
         "2 of 3 done",
         {"done", "done", "to do"}},
        {Microphone::granted,
         true,
         "",
         "",
         Download::of(Download::State::progress, 7,
                      "Chosen for this computer: Base English (82 MB)."),
         allowedMicrophone,
         allowedAccess,
         "Chosen for this computer: Base English (82 MB).\nDownloading, 7%. You can keep going.",
         "2 of 3 done",
         {"done", "done", "to do"}},
    };
    Download coming = Download::progress(42);
    coming.megabytes = 264;
    coming.secondsLeft = 150;
    Download retrying = Download::progress(42);
    retrying.state = Download::State::retrying;
    Download damaged;
    damaged.state = Download::State::failed;
    damaged.damaged = true;
    const std::vector<std::pair<Download, QString>> downloads{
        {coming, "Downloading, 42% of 264 MB, about 3 min left. You can keep going."},
        {retrying,
         "Waiting for the network: trying again every few seconds, from where it stopped. 42% so "
         "far."},
        {damaged,
         "The downloaded file was damaged and has been thrown away. Try again to fetch it anew."},
    };
    for (const auto& [download, text] : downloads) {
        EXPECT_EQ(SetupView::downloadText(download), text);
    }
    for (const Row& row : rows) {
        SetupWorld world;
        world.window->show();
        // Showing checks again; the worker reads the answers until it is done.
        world.waitForAnswer();
        world.answers->microphone = static_cast<int>(row.microphone);
        world.answers->soundServer = row.soundServer;
        world.answers->missingAccess = row.missingAccess;
        world.answers->missingFieldChecks = row.missingFieldChecks;
        world.model->setDownload(row.download);
        world.tick();
        SCOPED_TRACE(row.microphoneText.toStdString());
        EXPECT_TRUE(world.label(row.microphoneText));
        EXPECT_TRUE(world.label(row.accessibilityText));
        EXPECT_TRUE(world.label(row.downloadText));
        EXPECT_TRUE(world.label(row.count));
        std::vector<QString> marks;
        for (QLabel* label : world.window->widget()->findChildren<QLabel*>()) {
            if (label->text() == "done" || label->text() == "to do") {
                marks.push_back(label->text());
            }
        }
        EXPECT_EQ(marks, row.marks);
        EXPECT_EQ(world.visible("Allow"), row.microphone == Microphone::notAsked);
        EXPECT_EQ(world.visible("Try again"), row.download.state == Download::State::failed);
        EXPECT_EQ(
            world.visible(
                QStringLiteral("Speech model download, %1 percent").arg(row.download.percent)),
            row.download.state == Download::State::progress);
    }
}

TEST_F(SetupWindowTest, AWaylandSessionIsToldInItsOwnTermsWithHowTheKeyIsHeard) {
    SetupModel::Checks checks;
    checks.wayland = true;
    auto note = std::make_shared<std::string>("Bind the record key in your compositor.");
    checks.recordKeyNote = [note] { return *note; };
    SetupWorld world(true, std::move(checks));
    world.window->show();
    world.waitForAnswer();
    world.answers->missingAccess =
        "the compositor offers no virtual keyboard and no remote desktop portal";
    world.tick();
    EXPECT_TRUE(world.label(
        "So it can type into other apps. Parlwick needs a compositor with a virtual keyboard "
        "(sway and other wlroots desktops) or the remote desktop portal (GNOME, KDE).\nMissing "
        "here: the compositor offers no virtual keyboard and no remote desktop portal."));

    world.answers->missingAccess.clear();
    world.tick();
    EXPECT_TRUE(world.label(
        "Allowed. It can type into other apps. Bind the record key in your compositor."));
    // The note follows the desktop, as a portal shortcut gets bound.
    *note = "The record key is your desktop's shortcut for Parlwick: Alt_R.";
    world.tick();
    EXPECT_TRUE(world.label("Allowed. It can type into other apps. The record key is your "
                            "desktop's shortcut for Parlwick: Alt_R."));
}

TEST_F(SetupWindowTest, TheWelcomeIsTheWholeStory) {
    SetupWorld world;
    world.window->show();
    QWidget* window = world.window->widget();
    EXPECT_EQ(window->windowTitle(), "Set up Parlwick");
    // Its own size where the screen has room (this one is 800 high).
    EXPECT_EQ(window->width(), 600);
    EXPECT_TRUE(window->screen()->availableGeometry().contains(window->frameGeometry()));
    for (const QString text :
         {"Welcome to Parlwick", "Hold a key, talk, and your words appear where you're typing.",
          "Types into any app", "Email, Slack, docs and AI prompts.", "Cleans it up",
          "The ums and repeats go. Your words stay.", "Stays on this computer",
          "Your voice is never sent anywhere.", "Three quick steps", "Microphone",
          "Typing into other apps", "Speech model", "Key to hold"}) {
        EXPECT_TRUE(world.label(text)) << text.toStdString();
    }
    EXPECT_TRUE(world.visible("Hold right Alt in any text box and talk."));
    EXPECT_TRUE(world.visible("Start talking"));
    EXPECT_FALSE(world.visible("Later"));
}

TEST_F(SetupWindowTest, EveryControlIsNamedAndTabsGoTopToBottom) {
    SetupWorld world;
    world.answers->microphone = static_cast<int>(Microphone::notAsked);
    world.model->setDownload(Download::of(Download::State::failed, 0));
    world.tick();
    world.window->show();
    QWidget* window = world.window->widget();
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (qobject_cast<QAbstractButton*>(widget) || qobject_cast<QComboBox*>(widget) ||
            qobject_cast<QProgressBar*>(widget)) {
            EXPECT_FALSE(widget->accessibleName().isEmpty()) << widget->metaObject()->className();
        }
    }
    std::vector<QString> order;
    QWidget* first = world.named("Allow");
    ASSERT_TRUE(first);
    for (QWidget* widget = first; order.size() < 4; widget = widget->nextInFocusChain()) {
        if (widget->focusPolicy() & Qt::TabFocus && widget->isVisibleTo(window)) {
            order.push_back(widget->accessibleName());
        }
    }
    EXPECT_EQ(order, (std::vector<QString>{"Allow", "Try again", "Key to hold", "Later"}));
}

TEST_F(SetupWindowTest, TheKeyPickerStoresTheKeyAndHandsItOn) {
    SetupWorld world;
    std::vector<HotKey> handed;
    QObject::connect(&world.key, &RecordKey::changed, [&] { handed.push_back(world.key.value()); });
    world.window->show();
    auto* picker = world.named<QComboBox>("Key to hold");
    ASSERT_TRUE(picker);
    std::vector<QString> labels;
    for (int i = 0; i < picker->count(); ++i) {
        labels.push_back(picker->itemText(i));
    }
    EXPECT_EQ(labels, (std::vector<QString>{"fn", "right Alt", "right Super", "right Ctrl"}));
    EXPECT_EQ(picker->currentText(), "right Alt");
    const QString fnHint =
        "Most PC keyboards never report fn. If holding it does nothing, pick right Alt.";
    EXPECT_FALSE(world.label(fnHint));

    picker->setCurrentIndex(3);
    EXPECT_EQ(handed, std::vector<HotKey>{HotKey::rightControl});
    EXPECT_EQ(SettingsFile(world.settings.file().path()).get(SettingKeys::key),
              HotKey::rightControl);
    EXPECT_TRUE(world.visible("Hold right Ctrl in any text box and talk."));

    picker->setCurrentIndex(0);
    EXPECT_EQ(world.model->key(), HotKey::fn);
    EXPECT_TRUE(world.label(fnHint));
}

TEST_F(SetupWindowTest, TryAgainAsksForTheDownloadAgain) {
    SetupWorld world(false);
    int retries = 0;
    world.model->onRetryDownload = [&] {
        ++retries;
        world.model->setDownload(Download::progress(0));
    };
    world.model->setDownload(Download::of(Download::State::failed, 0));
    world.window->show();
    EXPECT_TRUE(world.label("2 of 3 done"));
    world.named("Try again")->click();
    EXPECT_EQ(retries, 1);
    EXPECT_TRUE(world.label("Downloading, 0%. You can keep going."));
    EXPECT_TRUE(world.visible("Speech model download, 0 percent"));
    world.model->setDownload(Download::progress(57));
    auto* bar = world.named<QProgressBar>("Speech model download, 57 percent");
    ASSERT_TRUE(bar);
    EXPECT_EQ(bar->value(), 57);
    EXPECT_FALSE(world.visible("Try again"));
}

TEST_F(SetupWindowTest, ReturnClosesAndOnlyACompleteSetupFinishes) {
    SetupWorld world;
    world.answers->microphone = static_cast<int>(Microphone::denied);
    world.tick();
    int finished = 0;
    world.window->onFinish = [&] { ++finished; };
    bool lastClosed = false;
    QObject::connect(app, &QGuiApplication::lastWindowClosed, [&] { lastClosed = true; });
    world.window->show();
    QWidget* window = world.window->widget();
    EXPECT_TRUE(world.visible("You can close this and finish later from the tray icon, or by "
                              "opening Parlwick again."));
    EXPECT_TRUE(world.visible("Later"));
    QTest::keyClick(world.named<QComboBox>("Key to hold"), Qt::Key_Return);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(finished, 0) << "a step is still open";
    QApplication::processEvents();
    EXPECT_FALSE(lastClosed) << "closing setup would end the app";

    // Allowed meanwhile: the window opens again (the same one) and finishes. A tick, not just
    // the answer: the check the first showing sent out may still be on its way, with the old
    // answer, on a busy machine.
    world.answers->microphone = static_cast<int>(Microphone::granted);
    world.window->show();
    world.tick();
    EXPECT_EQ(world.window->widget(), window);
    EXPECT_TRUE(world.visible("Start talking"));
    QTest::keyClick(window->findChild<SetupView*>(), Qt::Key_Enter);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(finished, 1);
}

// A sound settings program of the test's own on the search path, writing down how it ran.
TEST_F(SetupWindowTest, OpenSettingsStartsTheSoundSettingsFoundOnThePath) {
    TempDir bin;
    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    {
        SetupWorld world;
        world.answers->microphone = static_cast<int>(Microphone::denied);
        ::setenv("PATH", bin.path().c_str(), 1);
        world.tick();
        world.window->show();
        EXPECT_FALSE(world.visible("Open Settings")) << "nothing to open";
    }
    const auto ran = bin / "ran";
    writeAll(bin / "pavucontrol", "#!/bin/sh\necho \"pavucontrol $*\" > '" + ran.string() + "'\n");
    writeAll(bin / "systemsettings",
             "#!/bin/sh\necho \"systemsettings $*\" > '" + ran.string() + "'\n");
    for (const char* name : {"pavucontrol", "systemsettings"}) {
        std::filesystem::permissions(bin / name, std::filesystem::perms::owner_all);
    }
    SetupWorld world;
    world.answers->microphone = static_cast<int>(Microphone::denied);
    world.tick();
    world.window->show();
    ASSERT_TRUE(world.visible("Open Settings"));
    world.named("Open Settings")->click();
    for (int i = 0; i < 500 && !std::filesystem::exists(ran); ++i) {
        QTest::qWait(10);
    }
    EXPECT_EQ(readAll(ran), "systemsettings kcm_pulseaudio\n") << "KDE's comes before pavucontrol";

    // Without a sound server, sound settings cannot help.
    world.answers->soundServer = false;
    world.tick();
    EXPECT_FALSE(world.visible("Open Settings"));
    ::setenv("PATH", oldPath.c_str(), 1);
}

TEST_F(SetupWindowTest, ShowWindowPicksSetupOnlyWhenTheAppNeedsIt) {
    struct Row {
        bool isApp;
        bool granted;
        const char* showSetup;
        bool setup;
    };
    for (const Row& row : std::initializer_list<Row>{{true, true, nullptr, false},
                                                     {true, false, nullptr, true},
                                                     {true, true, "1", true},
                                                     {true, true, "yes", false},
                                                     {false, false, "1", false}}) {
        if (row.showSetup) {
            ::setenv("SHOW_SETUP", row.showSetup, 1);
        } else {
            ::unsetenv("SHOW_SETUP");
        }
        SetupWorld world;
        world.answers->microphone =
            static_cast<int>(row.granted ? Microphone::granted : Microphone::denied);
        world.tick();
        bool main = false;
        showWindow(row.isApp, *world.window, [&] { main = true; });
        const bool setup = world.window->widget() && world.window->widget()->isVisible();
        EXPECT_EQ(setup, row.setup) << row.isApp << row.granted;
        EXPECT_EQ(main, !row.setup);
    }
    ::unsetenv("SHOW_SETUP");
}

} // namespace
