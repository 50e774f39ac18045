// The installed app's wiring around a controller on fakes: real stores on real files, the real
// downloader against a local nginx, windows on Qt's offscreen platform, timers and the
// workers' answers run when the test says.
#include "FakeFocusProbe.h"
#include "FakeRecorder.h"
#include "FakeSpeechEngine.h"
#include "FakeTextInserter.h"
#include "FakeWindowProbe.h"
#include "FeedSigning.h"
#include "FixedClock.h"
#include "HttpServers.h"
#include "LogCapture.h"
#include "ManualScheduler.h"
#include "OffscreenWidgets.h"
#include "PostedWork.h"
#include "TestSupport.h"
#include "app/AppShell.h"
#include "housekeeping/Uninstaller.h"
#include "models/FileDigest.h"
#include "platform/Log.h"

#include <QAction>
#include <QTimer>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using Download = SetupModel::Download;

class AppShellTest : public OffscreenWidgets {
  protected:
    // The controller and, over it, the shell; `models` are what the downloader must fetch.
    void make(std::vector<ModelDownloader::Model> models = {},
              AppShell::Parts::Measure measure = {}) {
        shell.reset();
        controller.reset();
        auto recorder = std::make_unique<FakeRecorder>(*clock);
        Controller::Parts parts{std::move(recorder),
                                paster,
                                windows,
                                focus,
                                scheduler,
                                SettingsFile(paths.settings()),
                                [this](std::span<const float>) { return silent; },
                                [] {}};
        parts.clock = clock;
        parts.isApp = true;
        controller = std::make_unique<Controller>(Options{}, *engine, TimingLog{paths.runs()},
                                                  std::move(parts));
        SetupModel::Checks checks{[this] {
                                      return SetupModel::MicrophoneCheck{microphone, true, {}};
                                  },
                                  [] { return std::string(); }, [] { return std::string(); }};
        shell = std::make_unique<AppShell>(
            AppShell::Parts{paths, settings, key, clock, scheduler, *controller, engine,
                            std::move(checks), std::move(models), posted.deliver(), "en",
                            [this](const std::filesystem::path& model) { used.push_back(model); },
                            std::move(measure)});
    }

    void dictate() {
        controller->keyDown();
        scheduler.advanceBy(1.5);
        controller->keyUp();
        for (int i = 0; i < 3; ++i) {
            controller->waitForWork();
            QCoreApplication::sendPostedEvents();
        }
    }

    void setting(const std::string& line) {
        std::ofstream(paths.settings(), std::ios::app) << line << '\n';
    }
    std::string status() const { return shell->state().status().toStdString(); }

    TempDir home;
    Paths paths{
        home / "prefix/bin/parlwick",
        Paths::Bundle{home / "prefix", "org.parlwick.Parlwick", "Parlwick", {}, {}, {}, {}, {}},
        Paths::Homes::under(home.path()), home / "work"};
    std::shared_ptr<FixedClock> clock =
        std::make_shared<FixedClock>(Timestamp(std::chrono::seconds(1'800'000'000)));
    ManualScheduler scheduler;
    PostedWork posted;
    Settings settings{paths.settings()};
    RecordKey key{HotKey::rightOption, &settings};
    std::shared_ptr<FakeSpeechEngine> engine = std::make_shared<FakeSpeechEngine>();
    FakeTextInserter paster;
    FakeWindowProbe windows;
    FakeFocusProbe focus;
    bool silent = false;
    // The models the engine was told to take up.
    std::vector<std::filesystem::path> used;
    SetupModel::Microphone microphone = SetupModel::Microphone::granted;
    std::unique_ptr<Controller> controller;
    std::unique_ptr<AppShell> shell;

    void SetUp() override {
        fs::create_directories(paths.settings().parent_path());
        // Time passes for the timers, the clock and the uptime alike.
        scheduler.moved = [this, start = clock->now()](double now) {
            clock->set(start + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                   std::chrono::duration<double>(now)));
            clock->setUptime(5000 + now);
        };
    }
    void TearDown() override {
        shell.reset();
        controller.reset();
    }
};

TEST_F(AppShellTest, AStoredKeyWinsOverTheCommandLineUnlessItIsNoKey) {
    const struct {
        const char* stored;
        HotKey expected;
    } cases[] = {
        {"key=right-control", HotKey::rightControl},
        {"key=fn", HotKey::fn},
        {"key=Right-Control", HotKey::rightCommand}, // letter case counts
        {"key=", HotKey::rightCommand},
        {"other=1", HotKey::rightCommand},
    };
    for (const auto& c : cases) {
        writeAll(paths.settings(), std::string("[General]\n") + c.stored + "\n");
        EXPECT_EQ(RecordKey::stored(HotKey::rightCommand, SettingsFile(paths.settings())),
                  c.expected)
            << c.stored;
    }
    make();
    EXPECT_EQ(shell->state().key(), HotKey::rightOption);
    EXPECT_EQ(shell->setup().key(), HotKey::rightOption);

    // The setup window's choice reaches the state and the settings.
    int told = 0;
    QObject::connect(&shell->state(), &AppState::keyChanged, [&] { ++told; });
    shell->setup().setKey(HotKey::rightControl);
    EXPECT_EQ(shell->state().key(), HotKey::rightControl);
    EXPECT_EQ(told, 1);
    EXPECT_EQ(SettingsFile(paths.settings()).get(SettingKeys::key), HotKey::rightControl);
}

TEST_F(AppShellTest, EveryDictationIsLaidOutStyledAndExpandedForItsAppWithTheSnippetsOfThatMoment) {
    setting("[General]");
    setting("style-messages=lowercase");
    make();
    shell->parts().snippets.save({Snippet::make("my address", "12 Elm Street")});
    engine->transcript = "um so hi Anna new paragraph my address thanks";

    windows.front = FrontWindow{1, "Thunderbird", "thunderbird", 7};
    dictate();
    windows.front = FrontWindow{2, "Signal", "signal", 8};
    shell->parts().snippets.save({Snippet::make("my address", "Flat 3")});
    dictate();

    ASSERT_EQ(paster.pastes.size(), 2u);
    // E-mail: paragraphs, the polished default, the snippet as stored.
    EXPECT_EQ(paster.pastes[0].first, "So hi Anna.\n\n12 Elm Street thanks.");
    // Chat: the group's own style and the snippet's new text.
    EXPECT_NE(paster.pastes[1].first.find("Flat 3"), std::string::npos) << paster.pastes[1].first;
    EXPECT_EQ(paster.pastes[1].first.find("Hi"), std::string::npos) << paster.pastes[1].first;
    EXPECT_EQ(paster.pastes[1].first.find("12 Elm"), std::string::npos);

    const auto entries = shell->history().entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].app, "Signal");
    EXPECT_EQ(entries[1].app, "Thunderbird");
    EXPECT_EQ(entries[1].text, paster.pastes[0].first);
    EXPECT_EQ(shell->history().totals().words, 2 * 9); // the words heard, twice
}

TEST_F(AppShellTest, TheHistoryKeepsDictationsUnlessRetentionIsOff) {
    const struct {
        const char* line;
        bool kept;
    } cases[] = {{"", true},
                 {"retention=month", true},
                 {"retention=forever", true},
                 {"retention=sometimes", true},
                 {"retention=off", false}};
    for (const auto& c : cases) {
        fs::remove_all(paths.support());
        writeAll(paths.settings(), std::string("[General]\n") + c.line + "\n");
        make();
        dictate();
        EXPECT_EQ(paster.pastes.size(), 1u) << c.line;
        EXPECT_EQ(shell->history().entries().size(), c.kept ? 1u : 0u) << c.line;
        EXPECT_EQ(fs::exists(paths.history()), c.kept) << c.line;
        paster.pastes.clear();
    }
}

TEST_F(AppShellTest, DeleteAllForgetsTheDictationThatCouldBeRetried) {
    make();
    silent = true;
    dictate();
    ASSERT_TRUE(controller->canRetry());
    ASSERT_EQ(shell->history().entries().size(), 1u);
    shell->statusMenu().validate();
    EXPECT_TRUE(shell->statusMenu().retryItem().isEnabled());

    shell->parts().deleteAll();
    EXPECT_FALSE(controller->canRetry());
    EXPECT_TRUE(shell->history().entries().empty());
    shell->statusMenu().validate();
    EXPECT_FALSE(shell->statusMenu().retryItem().isEnabled());
}

TEST_F(AppShellTest, CheckForUpdatesInTheTrayAnswersInATrayMessage) {
    FeedSigner signer;
    WebServer server;
    const auto serve = [&](const std::string& version) {
        writeAll(server.root() / "appcast.xml",
                 signer.sign(R"(<rss xmlns:sparkle="s"><channel><item><sparkle:version>)" +
                             version + "</sparkle:version></item></channel></rss>"));
    };
    paths = Paths{home / "prefix/bin/parlwick",
                  Paths::Bundle{home / "prefix",
                                "org.parlwick.Parlwick",
                                "Parlwick",
                                {},
                                "0.1.0",
                                {},
                                server.address() + "/appcast.xml",
                                signer.publicKey()},
                  Paths::Homes::under(home.path()), home / "work"};
    make();
    QAction& check = shell->statusMenu().updatesItem();
    ASSERT_TRUE(check.isEnabled());
    const struct {
        const char* served;
        QString answer;
    } rows[] = {
        {"0.1.0", QStringLiteral("You're up to date.")},
        {"0.2.0", QStringLiteral("A newer version, 0.2.0, is available.")},
    };
    for (const auto& row : rows) {
        serve(row.served);
        check.trigger();
        ASSERT_TRUE(
            posted.runUntil([&] { return shell->statusMenu().lastMessage() == row.answer; }, 30))
            << row.served << ": " << shell->statusMenu().lastMessage().toStdString();
    }
}

TEST_F(AppShellTest, OpeningShowsTheMainWindowOnceSetUpAndSetupWhileSomethingIsMissing) {
    ::unsetenv("SHOW_SETUP");
    setting("[General]");
    setting("hasCompletedSetup=true");
    make();
    shell->showWindow();
    EXPECT_TRUE(shell->mainWindow().isVisible());
    EXPECT_EQ(shell->setupWindow().widget(), nullptr);

    // Setup shows again while something it needs is missing.
    microphone = SetupModel::Microphone::denied;
    make();
    shell->showWindow();
    ASSERT_NE(shell->setupWindow().widget(), nullptr);
    EXPECT_TRUE(shell->setupWindow().widget()->isVisible());
    EXPECT_FALSE(shell->mainWindow().isVisible());
}

TEST_F(AppShellTest, AFirstLaunchMeasuresThisComputerThenFetchesTheModelChosenForIt) {
    using SpeechModels::Timing;
    const struct {
        const char* name;
        std::vector<Timing> timings;
        std::string_view chosen;
        const char* choice;
        const char* logged;
    } cases[] = {
        {"two cores",
         {{"ggml-large-v3-turbo-q5_0.bin", std::nullopt},
          {"ggml-small.en-q8_0.bin", 2.1},
          {"ggml-small-q8_0.bin", 2.2},
          {"ggml-base.en-q8_0.bin", 0.62}},
         "ggml-base.en-q8_0.bin",
         "Chosen for this computer: Base English (82 MB), about 0.6 s per sentence. You can "
         "change it in Settings.",
         "speech model chosen for this computer: ggml-base.en-q8_0.bin"},
        {"nothing could be measured",
         {{"ggml-large-v3-turbo-q5_0.bin", std::nullopt}},
         "ggml-large-v3-turbo-q5_0.bin",
         "Chosen for this computer: Large turbo (574 MB). You can change it in Settings.",
         "the engine could not be measured, using ggml-large-v3-turbo-q5_0.bin"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(paths.settings());
        used.clear();
        std::vector<std::string> asked;
        LogCapture log;
        make(ModelDownloader::required("http://127.0.0.1:9"),
             [&](const std::vector<SpeechModels::Model>& models, const std::atomic<bool>&) {
                 for (const auto& model : models) {
                     asked.emplace_back(model.file);
                 }
                 return c.timings;
             });
        shell->whenModelsPresent([] {});
        EXPECT_EQ(shell->setup().download().state, Download::State::measuring);
        EXPECT_EQ(status(), "Measuring this computer…");
        ASSERT_TRUE(posted.runUntil(
            [&] { return shell->setup().download().state != Download::State::measuring; }, 10));
        EXPECT_EQ(asked.size(), 4u) << "English has every model to choose from";
        EXPECT_EQ(SettingsFile(paths.settings()).get(SettingKeys::speechModel),
                  std::string(c.chosen));
        EXPECT_EQ(used, std::vector<std::filesystem::path>{paths.models() / c.chosen});
        EXPECT_EQ(shell->setup().download().choice, c.choice);
        EXPECT_TRUE(log.contains(c.logged)) << log.text();
        // What is fetched now is the chosen model.
        EXPECT_EQ(status(), AppShell::downloadingText);
    }
}

TEST_F(AppShellTest, AfterASwitchTheOldModelCanGoWithoutBringingSetupBack) {
    const auto base = ModelDownloader::required("http://127.0.0.1:9");
    for (const auto& model : base) {
        writeAll(paths.models() / model.name, "model");
    }
    writeAll(paths.models() / "ggml-base.en-q8_0.bin", "model");
    setting("hasCompletedSetup=true");
    make(base);
    EXPECT_FALSE(shell->setup().isNeeded());

    ModelChoice& choice = *shell->parts().modelChoice;
    choice.choose("ggml-base.en-q8_0.bin");
    ASSERT_TRUE(posted.runUntil([&] { return !choice.fetching(); }, 10));
    EXPECT_EQ(used, std::vector<fs::path>{paths.models() / "ggml-base.en-q8_0.bin"});
    choice.remove("ggml-large-v3-turbo-q5_0.bin");
    EXPECT_FALSE(fs::exists(paths.models() / "ggml-large-v3-turbo-q5_0.bin"));
    EXPECT_FALSE(shell->setup().isNeeded()) << "the removed model is no longer needed";
    // The model in use cannot go.
    choice.remove("ggml-base.en-q8_0.bin");
    EXPECT_TRUE(fs::exists(paths.models() / "ggml-base.en-q8_0.bin"));
}

TEST_F(AppShellTest, UninstallWithTheWindowOpenLeavesNothingOfOursBehind) {
    struct Case {
        const char* name;
        fs::path prefix; // in the user's home: their own install; else a system-wide one
    };
    const std::vector<Case> cases{{"the user's own install", home / "home/prefix"},
                                  {"installed for every user", home / "prefix"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        paths =
            Paths(c.prefix / "bin/parlwick",
                  Paths::Bundle{c.prefix, "org.parlwick.Parlwick", "Parlwick", {}, {}, {}, {}, {}},
                  Paths::Homes::under(home.path()), home / "work");
        writeAll(paths.executable(), "#!/bin/sh\n");
        // The Trash the program goes to is this home's.
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString((home / "data").string()));
        fs::create_directories(paths.settings().parent_path());
        setting("hasCompletedSetup=true");
        writeAll(paths.models() / "ggml-silero-v5.1.2.bin", "model");
        make();
        Log appLog("Parlwick", paths.log());
        ::log("a line before");
        appLog.flush();
        shell->mainWindow().show();
        // The system-wide install's advice waits for an answer.
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [] {
            if (QWidget* box = QApplication::activeModalWidget()) {
                box->close();
            }
        });
        answer.start(50);
        QTimer::singleShot(0, [&] { shell->parts().uninstall(); });
        QTimer::singleShot(10'000, [] { QCoreApplication::exit(1); });
        EXPECT_EQ(QApplication::exec(), 0) << "uninstall ends the event loop";
        shell.reset();
        ::log("a line after");
        appLog.flush();
        for (const fs::path& folder : Uninstaller::leftovers(paths)) {
            EXPECT_FALSE(fs::exists(folder)) << folder;
        }
        qunsetenv("XDG_DATA_HOME");
    }
}

class AppShellDownloadTest : public AppShellTest {
  protected:
    void SetUp() override {
        AppShellTest::SetUp();
        try {
            server = std::make_unique<WebServer>(0);
        } catch (const std::exception& error) {
            GTEST_SKIP() << "nginx did not start: " << error.what();
        }
        writeAll(server->root() / "vad.bin", std::string(3000, 'v'));
        // Chosen already: these downloads are not a first launch's.
        setting("speechModel=ggml-base.en-q8_0.bin");
    }
    ModelDownloader::Model model(const std::string& digest) const {
        return {"vad.bin", server->address() + "/vad.bin", digest};
    }
    bool waitFor(Download::State state) {
        return posted.runUntil([&] { return shell->setup().download().state == state; }, 20);
    }

    std::unique_ptr<WebServer> server;
    int begun = 0;
};

TEST_F(AppShellDownloadTest, AFailedDownloadSaysSoAndTryAgainStartsOverThenFilesPutThereBegin) {
    LogCapture log;
    make({model(std::string(64, '0'))});
    shell->whenModelsPresent([&] { ++begun; });
    EXPECT_EQ(status(), AppShell::downloadingText);
    ASSERT_TRUE(waitFor(Download::State::failed)) << log.text();
    EXPECT_EQ(status(), "Download failed. Open Parlwick to try again.");
    EXPECT_TRUE(shell->setup().download().damaged) << "the file came whole but wrong";
    EXPECT_TRUE(log.contains("download failed: ")) << log.text();
    EXPECT_EQ(begun, 0);

    shell->setup().onRetryDownload();
    EXPECT_EQ(shell->setup().download(), Download::progress(0));
    EXPECT_EQ(status(), AppShell::downloadingText);
    ASSERT_TRUE(waitFor(Download::State::failed));
    EXPECT_EQ(begun, 0);

    // The user puts the file there by hand while setup waits.
    writeAll(paths.models() / "vad.bin", "model");
    scheduler.advanceBy(SetupModel::pollSeconds);
    EXPECT_EQ(shell->setup().download().state, Download::State::done);
    EXPECT_EQ(begun, 1);
    scheduler.advanceBy(5 * SetupModel::pollSeconds);
    EXPECT_EQ(begun, 1);
}

TEST_F(AppShellDownloadTest, WithoutANetworkItSaysItWaitsAndAfterLaterTheTraySaysWhenReady) {
    const ModelDownloader::Model good = model(FileDigest::sha256(server->root() / "vad.bin"));
    // Nothing listens on the port: each try is an interruption, and the download waits.
    make({{good.name, "http://127.0.0.1:9/vad.bin", good.sha256, 0}});
    shell->state().setHasTray(true);
    shell->whenModelsPresent([&] { ++begun; });
    ASSERT_TRUE(waitFor(Download::State::retrying));
    EXPECT_EQ(status(), "Speech model: waiting for the network");
    EXPECT_FALSE(shell->setup().download().damaged);
    EXPECT_TRUE(shell->statusMenu().lastMessage().isEmpty());

    // The network comes back (here: the file appears by other means) while setup is closed.
    writeAll(paths.models() / "vad.bin", "model");
    scheduler.advanceBy(DownloadOptions{}.retryDelay);
    ASSERT_TRUE(waitFor(Download::State::done));
    EXPECT_EQ(begun, 1);
    EXPECT_EQ(shell->statusMenu().lastMessage(),
              "The speech model is ready. Hold right Alt in any text box and talk.");
}

TEST_F(AppShellDownloadTest, AGoodDownloadBeginsOnceAndFilesAlreadyThereFetchNothing) {
    make({model(FileDigest::sha256(server->root() / "vad.bin"))});
    shell->whenModelsPresent([&] { ++begun; });
    ASSERT_TRUE(waitFor(Download::State::done));
    EXPECT_EQ(begun, 1);
    EXPECT_EQ(readAll(paths.models() / "vad.bin"), std::string(3000, 'v'));
    const auto fetched = server->requests().size();

    make({model(std::string(64, '0'))});
    shell->whenModelsPresent([&] { ++begun; });
    EXPECT_EQ(begun, 2);
    EXPECT_EQ(shell->setup().download().state, Download::State::done);
    posted.runUntil([] { return false; }, 0.3);
    EXPECT_EQ(server->requests().size(), fetched);
}

TEST_F(AppShellDownloadTest, TheTrayFollowsASwitchDownloadAndThenShowsWhatStoodBefore) {
    // The catalog's models come from this server; the one served is not the real file.
    paths = Paths(home / "prefix/bin/parlwick",
                  Paths::Bundle{home / "prefix",
                                "org.parlwick.Parlwick",
                                "Parlwick",
                                server->address(),
                                {},
                                {},
                                {},
                                {}},
                  Paths::Homes::under(home.path()), home / "work");
    writeAll(server->root() / SpeechModels::folder / "ggml-small.en-q8_0.bin", "not a model");
    writeAll(paths.models() / "ggml-base.en-q8_0.bin", "model");
    make({model(FileDigest::sha256(server->root() / "vad.bin"))});
    shell->whenModelsPresent([&] { ++begun; });
    ASSERT_TRUE(waitFor(Download::State::done));
    shell->showStatus("Hold right Alt to talk");
    ModelChoice& choice = *shell->parts().modelChoice;

    choice.choose("ggml-small.en-q8_0.bin");
    EXPECT_EQ(status(), "Downloading speech model: 0%");
    ASSERT_TRUE(posted.runUntil([&] { return !choice.fetching(); }, 20));
    EXPECT_EQ(status(), "Download failed. Open Parlwick to try again.");
    // A dictation's error covers it, and the next recording brings it back.
    controller->state().fail("Couldn't transcribe that");
    EXPECT_EQ(status(), "Couldn't transcribe that");
    controller->state().listen();
    EXPECT_EQ(status(), "Download failed. Open Parlwick to try again.");

    choice.choose("ggml-base.en-q8_0.bin");
    ASSERT_TRUE(posted.runUntil([&] { return !choice.fetching(); }, 20));
    EXPECT_EQ(choice.chosen().file, std::string("ggml-base.en-q8_0.bin"));
    EXPECT_EQ(status(), "Hold right Alt to talk");
}

} // namespace
