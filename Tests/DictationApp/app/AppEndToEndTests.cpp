// The installed parlwick in application mode, used as a user would: installed into a private
// prefix and started with a home of its own, in a private X11 desktop with a window manager,
// AT-SPI and a tray host, a PulseAudio microphone fed with espeak-ng speech, the real
// whisper-server and voice-activity tool with generated models, xdotool holding right Alt.

#include "AudioTools.h"
#include "DesktopSupport.h"
#include "HttpServers.h"
#include "TestModels.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <csignal>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>
#include <sys/wait.h>

namespace {

using namespace DesktopSupport;
namespace fs = std::filesystem;
using Environment = std::vector<std::pair<std::string, std::string>>;

// What the generated speech model answers whatever it hears: a greeting, a spoken list, a
// paragraph command, a snippet's phrase and a sign-off, so that layout, list, style and
// snippet all show in what is typed.
const std::string spoken = "um hi Maria here is the plan. first buy milk. second call Anna. new "
                           "paragraph the room is at my office. thanks Tom";
constexpr int spokenWords = 23;
const std::string snippetText = "4 Quay Street, Leith";
const std::vector<std::string> dictatedWords{"Maria", "milk", "Anna", "Quay", "Leith"};

const std::string silero = "ggml-silero-v5.1.2.bin";
const std::string whisper = "ggml-large-v3-turbo-q5_0.bin";

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    return lines;
}

class AppEndToEnd : public testing::Test {
  protected:
    void SetUp() override {
        if (const std::string missing = missingDesktop(); !missing.empty()) {
            GTEST_SKIP() << missing;
        }
        if (const std::string missing = missingPrograms(
                {"pulseaudio", "pactl", "paplay", "pacat", "espeak-ng", "sox", "xdotool"});
            !missing.empty()) {
            GTEST_SKIP() << missing;
        }
        if (!fs::exists("/usr/sbin/nginx") && findProgram("nginx").empty()) {
            GTEST_SKIP() << "nginx not installed (run ./scripts/setup.sh --tests)";
        }
        application();
        const auto installed = runProcess({"/usr/bin/env", "cmake", "--install", PARLWICK_BUILD_DIR,
                                           "--prefix", prefix.path().string()});
        ASSERT_EQ(installed.status, 0) << installed.out << installed.err;
        ASSERT_TRUE(fs::exists(prefix / "share/parlwick/bundle.json"));
        // The install carries the speech tools found when the build was configured; without
        // them the app looks on the search path.
        for (const char* tool : {"whisper-server", "whisper-vad-speech-segments"}) {
            if (!fs::exists(prefix / "libexec/parlwick" / tool) && findProgram(tool).empty()) {
                GTEST_SKIP() << tool << " is not installed (run ./scripts/setup.sh)";
            }
        }

        // Every download goes to a loopback server of the test's own.
        web = std::make_unique<WebServer>();
        const fs::path bundle = prefix / "share/parlwick/bundle.json";
        auto info = nlohmann::json::parse(readAll(bundle));
        info["ModelsBaseURL"] = web->address();
        writeAll(bundle, info.dump(2));

        fs::create_directories(support());
        fs::create_directories(settings().parent_path());
        writeSpeech(work / "speech.wav", spoken);
        pulse = std::make_unique<PulseServer>(work / "pulse");

        // The panel is there before the app, which decides once which kind of tray to use.
        tray = std::make_unique<BackgroundProcess>(
            std::vector<std::string>{STATUS_NOTIFIER_HOST, "watch", (work / "tray-ready").string(),
                                     (work / "tray-items").string(), (work / "notices").string()});
        ASSERT_TRUE(waitUntil([&] { return fs::exists(work / "tray-ready"); }, 15))
            << "the status notifier host did not start";
    }

    void TearDown() override {
        if (parlwick) {
            parlwick->end(SIGTERM);
        }
        if (HasFailure()) {
            std::fprintf(stderr, "parlwick's output:\n%s\n", readAll(output()).c_str());
        }
    }

    // The folders of the app's home.
    fs::path home() const { return work / "home"; }
    fs::path support() const { return home() / ".local/share/org.parlwick.Parlwick"; }
    fs::path models() const { return support() / "models"; }
    fs::path settings() const { return home() / ".config/org.parlwick.Parlwick/settings.ini"; }
    fs::path history() const { return support() / "history.jsonl"; }
    fs::path totals() const { return support() / "totals.json"; }
    fs::path output() const { return work / "parlwick.out"; }
    std::string logText() const { return readAll(support() / "log.txt"); }
    fs::path executable() const { return prefix / "bin/parlwick"; }

    Environment environment() const {
        return {{"HOME", home().string()},
                {"XDG_CONFIG_HOME", (home() / ".config").string()},
                {"XDG_DATA_HOME", (home() / ".local/share").string()},
                {"XDG_STATE_HOME", (home() / ".local/state").string()},
                {"XDG_CACHE_HOME", (home() / ".cache").string()},
                {"GGML_NO_BACKTRACE", "1"},
                {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1"},
                {"QT_ACCESSIBILITY", "1"}};
    }

    // The generated models, put in place the way a finished download leaves them: whole.
    void placeModels() {
        fs::create_directories(models());
        TestModels::writeVoiceActivity(models() / (silero + ".new"));
        TestModels::writeWhisper(models() / (whisper + ".new"), spoken);
        fs::rename(models() / (silero + ".new"), models() / silero);
        fs::rename(models() / (whisper + ".new"), models() / whisper);
    }
    void writeSettings(const std::string& lines) { writeAll(settings(), "[General]\n" + lines); }

    // Starts the installed app; with `waitForReady`, until it listens for the record key.
    void start(const Environment& extra = {}, bool waitForReady = true) {
        auto env = environment();
        env.insert(env.end(), extra.begin(), extra.end());
        parlwick = std::make_unique<BackgroundProcess>(
            std::vector<std::string>{executable().string()}, env, output().string());
        if (waitForReady) {
            ASSERT_TRUE(waitForLog("ready. hold right Alt to talk", 45)) << logText();
        }
    }
    // Starts the app as a first-time user does: the setup window opens once, with every step
    // done (the models, the microphone and the desktop's access are all there), "Start
    // talking" closes it and the main window opens; waits for that, so that its arrival does
    // not take the focus from a field the test chose.
    void startAndWaitForWindow() {
        start();
        ASSERT_TRUE(waitUntil([&] { return windowShows("Set up Parlwick"); }, 15))
            << "a setup never finished shows once: "
            << run("xdotool", {"search", "--onlyvisible", "--name", ".", "getwindowname", "%@"});
        EXPECT_TRUE(press("Start talking"));
        EXPECT_TRUE(waitUntil([&] { return windowShows("Parlwick"); }, 15))
            << run("xdotool", {"search", "--onlyvisible", "--name", ".", "getwindowname", "%@"});
        EXPECT_NE(readAll(settings()).find("hasCompletedSetup=true"), std::string::npos);
        spin(0.5);
    }
    bool waitForLog(const std::string& line, double seconds) {
        return waitUntil([&] { return logText().find(line) != std::string::npos; }, seconds);
    }
    std::size_t logCount(const std::string& line) const { return occurrences(logText(), line); }

    // Holds right Alt while the speech plays (or for two seconds of silence).
    void holdAndSpeak(bool withSpeech = true) {
        xdotool({"keydown", "Alt_R"});
        spin(0.4);
        if (withSpeech) {
            pulse->play(work / "speech.wav");
            pulse->waitForPlay();
        } else {
            spin(2);
        }
        spin(0.3);
        xdotool({"keyup", "Alt_R"});
    }
    bool waitForDictations(std::size_t n, double seconds = 45) {
        return waitUntil([&] { return logCount("s audio, ") >= n; }, seconds);
    }

    std::vector<nlohmann::json> records() const {
        std::vector<nlohmann::json> parsed;
        for (const auto& line : linesOf(readAll(history()))) {
            parsed.push_back(nlohmann::json::parse(line));
        }
        return parsed;
    }

    // The tray item's menu as the panel shows it: label and enabled state, in order.
    std::vector<std::pair<std::string, bool>> trayMenu() {
        std::vector<std::pair<std::string, bool>> rows;
        const auto registered = linesOf(readAll(work / "tray-items"));
        if (registered.empty()) {
            return rows;
        }
        const QStringList item = QString::fromStdString(registered.back()).split(' ');
        const std::string json =
            run("/usr/bin/python3", {STATUS_NOTIFIER_HOST, "read", item[0], item[1]});
        const auto menu = QJsonDocument::fromJson(QByteArray::fromStdString(json))["menu"];
        for (const auto value : menu.toArray()) {
            const QJsonObject row = value.toObject();
            if (row["type"].toString() != "separator") {
                rows.emplace_back(row["label"].toString().toStdString(), row["enabled"].toBool());
            }
        }
        return rows;
    }
    // Whether the menu has that item, enabled as said.
    bool trayShows(const std::string& label, bool enabled) {
        const auto rows = trayMenu();
        return std::find(rows.begin(), rows.end(), std::pair(label, enabled)) != rows.end();
    }
    void clickTray(const std::string& label) {
        const QStringList item =
            QString::fromStdString(linesOf(readAll(work / "tray-items")).back()).split(' ');
        run("/usr/bin/python3",
            {STATUS_NOTIFIER_HOST, "click", item[0], item[1], QString::fromStdString(label)});
    }
    // Presses a button of the app's windows through AT-SPI; whether one showed to press.
    bool press(const std::string& label) {
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start("/usr/bin/python3",
                      {ATSPI_BUTTONS, "press", "Parlwick", QString::fromStdString(label)});
        waitUntil([&] { return process.state() == QProcess::NotRunning; }, 30);
        return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }
    bool windowShows(const std::string& title) {
        return !run("xdotool",
                    {"search", "--onlyvisible", "--name",
                     "^" + QRegularExpression::escape(QString::fromStdString(title)) + "$"},
                    5)
                    .empty();
    }

    // The text the installed cleanup tool says dictation types into `app` (into a password
    // field with `secure`), with this home's settings and snippets.
    std::string expectedFor(const std::string& app, bool secure = false) {
        std::vector<std::string> command{(prefix / "bin/parlwick-clean").string(), "--app", app};
        if (fs::exists(support() / "snippets.json")) {
            command.insert(command.end(), {"--snippets", (support() / "snippets.json").string()});
        }
        if (secure) {
            command.push_back("--secure");
        }
        auto result = runProcess(command, environment(), {}, spoken);
        EXPECT_EQ(result.status, 0) << result.err;
        if (result.out.ends_with('\n')) {
            result.out.pop_back();
        }
        return result.out;
    }

    // The processes still running from the installed tree.
    std::vector<pid_t> installedProcesses() const {
        std::vector<pid_t> found;
        for (const auto& entry : fs::directory_iterator("/proc")) {
            const std::string name = entry.path().filename();
            if (name.find_first_not_of("0123456789") != std::string::npos) {
                continue;
            }
            const pid_t pid = std::stoi(name);
            if (processIsAlive(pid) &&
                readAll(entry.path() / "cmdline").find(prefix.path().string()) !=
                    std::string::npos) {
                found.push_back(pid);
            }
        }
        return found;
    }
    std::vector<pid_t> speechEngines() const {
        std::vector<pid_t> engines;
        for (pid_t pid : installedProcesses()) {
            if (commandOf(pid).find("whisper-server") != std::string::npos) {
                engines.push_back(pid);
            }
        }
        return engines;
    }

    void expectNoDictatedWordsInTheLog() {
        const std::string logged = logText() + readAll(output());
        for (const auto& word : dictatedWords) {
            EXPECT_EQ(logged.find(word), std::string::npos) << word << " logged:\n" << logged;
        }
    }

    TempDir work, prefix;
    std::unique_ptr<WebServer> web;
    std::unique_ptr<PulseServer> pulse;
    std::unique_ptr<BackgroundProcess> tray;
    std::unique_ptr<BackgroundProcess> parlwick;
};

// An e-mail gets a greeting, a list, paragraphs and a sign-off in the polished style; a chat
// gets the list in the lower-case style chosen for work apps; both get the snippet. The
// history, the totals and the connector for AI apps then hold both dictations.
TEST_F(AppEndToEnd, MailAndChatAreLaidOutStyledAndKeptEachTheirWay) {
    placeModels();
    writeAll(support() / "snippets.json",
             R"([{"id":"0b8e6f0e-3c1a-4b8e-9d8e-6a1f2e3d4c5b","phrase":"my office","text":")" +
                 snippetText + R"("}])");
    writeSettings("style-work=lowercase\nstyle-email=polished\n");
    const std::string mail = expectedFor("Mail");
    const std::string chat = expectedFor("Slack");
    // The cleanup tool's own view, held to what each kind of app is meant to get.
    EXPECT_TRUE(mail.starts_with("Hi Maria,\n\n")) << mail;
    EXPECT_NE(mail.find(":\n1. Buy milk\n2. Call Anna\n"), std::string::npos) << mail;
    EXPECT_TRUE(mail.ends_with("\n\nThanks,\nTom")) << mail;
    EXPECT_NE(chat.find(":\n1. buy milk\n2. call anna\n"), std::string::npos) << chat;
    EXPECT_EQ(chat.find('M'), std::string::npos) << "lower case: " << chat;
    for (const auto& text : {mail, chat}) {
        EXPECT_NE(text.find(snippetText), std::string::npos) << text;
        EXPECT_EQ(text.find("my office"), std::string::npos) << text;
    }

    FieldsWindow mailWindow(FieldsWindow::Toolkit::gtk, "Compose - Mail", "Mail");
    FieldsWindow chatWindow(FieldsWindow::Toolkit::gtk, "general - Slack", "Slack");
    ASSERT_TRUE(mailWindow.ready() && chatWindow.ready()) << "the GTK windows did not appear";
    startAndWaitForWindow();

    mailWindow.focus("multiline");
    holdAndSpeak();
    EXPECT_EQ(mailWindow.waitForText("multiline", mail, 45), mail) << logText();
    chatWindow.focus("multiline");
    holdAndSpeak();
    EXPECT_EQ(chatWindow.waitForText("multiline", chat, 45), chat) << logText();

    ASSERT_TRUE(waitUntil([&] { return records().size() == 2; }, 10)) << readAll(history());
    const auto kept = records();
    const std::vector<std::pair<std::string, std::string>> wanted{{"Mail", mail}, {"Slack", chat}};
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        EXPECT_EQ(kept[i]["app"], wanted[i].first);
        EXPECT_EQ(kept[i]["outcome"], "typed");
        EXPECT_EQ(kept[i]["text"], wanted[i].second);
        EXPECT_EQ(kept[i]["heard"], spoken);
    }
    const auto counted = nlohmann::json::parse(readAll(totals()));
    EXPECT_EQ(counted["words"], 2 * spokenWords) << counted.dump();
    EXPECT_EQ(counted["days"].size(), 1u) << counted.dump();
    // A screen reader hears Home's values, each with what it is.
    const std::string total = std::to_string(2 * spokenWords);
    std::string read;
    EXPECT_TRUE(waitUntil(
        [&] {
            read = run("/usr/bin/python3", {ATSPI_BUTTONS, "labels", "Parlwick"}, 20);
            return read.find("\n" + total + "\t") != std::string::npos;
        },
        20))
        << read;
    EXPECT_NE(read.find("\nHatchling\tRank\n"), std::string::npos) << read;
    expectNoDictatedWordsInTheLog();
    EXPECT_NE(readAll(output()).find("[Parlwick] Slack: "), std::string::npos)
        << "the log goes to standard error too";
    EXPECT_TRUE(web->requests().empty()) << "models in place: nothing is downloaded";

    // An AI app asks the connector, a second copy of the installed program, for the dictations.
    const std::string requests =
        R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2025-06-18","capabilities":{},"clientInfo":{"name":"test","version":"1"}}})"
        "\n"
        R"({"jsonrpc":"2.0","method":"notifications/initialized"})"
        "\n"
        R"({"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":"search_dictations","arguments":{"query":"Quay Street"}}})"
        "\n";
    const auto connector = runProcess({"/usr/bin/timeout", "30", executable().string(), "--mcp"},
                                      environment(), {}, requests);
    ASSERT_EQ(connector.status, 0) << connector.err;
    std::string found;
    for (const auto& line : linesOf(connector.out)) {
        const auto reply = nlohmann::json::parse(line);
        if (reply.value("id", 0) == 2) {
            found = reply["result"]["content"][0]["text"];
        }
    }
    EXPECT_NE(found.find("Mail: Hi Maria,"), std::string::npos) << connector.out;
    EXPECT_NE(found.find("Slack: hi maria"), std::string::npos) << connector.out;
}

// With "Don't save" nothing of a dictation is kept; a password field keeps nothing whatever
// the setting, though the text is typed.
TEST_F(AppEndToEnd, DontSaveAndPasswordFieldsKeepNothing) {
    placeModels();
    writeSettings("retention=off\n");
    FieldsWindow fields(FieldsWindow::Toolkit::gtk, "Shopping Notes", "Notes");
    ASSERT_TRUE(fields.ready());
    startAndWaitForWindow();
    const std::string typed = expectedFor("Notes");

    fields.focus("normal");
    holdAndSpeak();
    ASSERT_EQ(fields.waitForText("normal", typed, 45), typed) << logText();
    ASSERT_TRUE(waitForDictations(1)) << logText();
    spin(1);
    EXPECT_FALSE(fs::exists(history())) << readAll(history());
    EXPECT_FALSE(fs::exists(totals())) << readAll(totals());

    // Keeping again: the settings are read afresh for each dictation.
    writeSettings("retention=month\n");
    // A password field gets the words cleaned but not laid out.
    const std::string secret = expectedFor("Notes", true);
    EXPECT_EQ(secret.find('\n'), std::string::npos) << secret;
    fields.focus("password");
    holdAndSpeak();
    EXPECT_EQ(fields.waitForText("password", secret, 45), secret) << logText();
    EXPECT_TRUE(waitForLog("not saved: a password field was in use", 10)) << logText();
    EXPECT_FALSE(fs::exists(history())) << readAll(history());

    // The same dictation into an ordinary field is kept now.
    fields.focus("nopaste");
    holdAndSpeak();
    ASSERT_TRUE(waitForDictations(3)) << logText();
    ASSERT_TRUE(waitUntil([&] { return records().size() == 1; }, 10)) << readAll(history());
    EXPECT_EQ(records()[0]["app"], "Notes");
    expectNoDictatedWordsInTheLog();
}

// "Delete all dictations" in the main window's privacy settings empties the history and the
// totals, and the last failed dictation can no longer be retried from the tray.
TEST_F(AppEndToEnd, DeleteAllForgetsTheHistoryAndTheRetry) {
    placeModels();
    writeSettings("hasCompletedSetup=true\n");
    FieldsWindow fields(FieldsWindow::Toolkit::gtk, "Shopping Notes", "Notes");
    ASSERT_TRUE(fields.ready());
    // Started as at login: no window until the user asks for one.
    start({{"PARLWICK_AUTOSTART", "1"}});

    fields.focus("normal");
    holdAndSpeak();
    ASSERT_TRUE(waitForDictations(1)) << logText();
    holdAndSpeak(false); // silence: nothing typed, kept for a retry
    ASSERT_TRUE(waitForDictations(2)) << logText();
    ASSERT_TRUE(waitUntil([&] { return records().size() == 2; }, 10)) << readAll(history());
    EXPECT_EQ(records()[1]["outcome"], "silent");
    ASSERT_TRUE(fs::exists(totals()));
    fields.focus("normal");
    EXPECT_TRUE(waitUntil([&] { return trayShows("Retry Last Dictation", true); }, 10))
        << "the silent dictation can be retried in the app it came from";

    clickTray("Open Parlwick");
    ASSERT_TRUE(waitUntil([&] { return windowShows("Parlwick"); }, 15))
        << "the main window opens from the tray";
    ASSERT_TRUE(press("Settings"));
    ASSERT_TRUE(press("Privacy"));
    ASSERT_TRUE(press("Delete all dictations"));
    ASSERT_TRUE(press("Delete")) << "the confirmation's Delete button";
    EXPECT_TRUE(waitUntil([&] { return !fs::exists(history()); }, 10)) << readAll(history());
    // The totals go a moment after the history, once the recordings are gone.
    EXPECT_TRUE(waitUntil([&] { return !fs::exists(totals()); }, 5));

    fields.focus("normal");
    EXPECT_TRUE(waitUntil([&] { return trayShows("Retry Last Dictation", false); }, 5));
    EXPECT_FALSE(trayShows("Retry Last Dictation", true)) << "the retry went with the history";
}

// A first launch whose download fails the digest check says so in the tray and offers "Try
// again" in the setup window; models the user puts in place by hand start dictation.
TEST_F(AppEndToEnd, AFailedFirstDownloadWaitsForModelsPutInPlaceByHand) {
    // The server holds files of the right names with the wrong contents.
    for (const auto& [path, name] : {std::pair("ggml-org/whisper-vad/resolve/main/", silero),
                                     std::pair("ggerganov/whisper.cpp/resolve/main/", whisper)}) {
        writeAll(web->root() / path / name, "not the model the app expects\n");
    }
    FieldsWindow fields(FieldsWindow::Toolkit::gtk, "Shopping Notes", "Notes");
    ASSERT_TRUE(fields.ready());
    // The model chosen already: this first launch is about the download, not the measurement.
    writeSettings("speechModel=" + whisper + "\n");
    start({}, false);

    ASSERT_TRUE(waitForLog("download failed: ", 45)) << logText();
    const std::string failed = "Download failed. Open Parlwick to try again.";
    EXPECT_TRUE(waitUntil(
        [&] {
            const auto rows = trayMenu();
            return !rows.empty() && rows.front() == std::pair(failed, false);
        },
        10))
        << "the tray's status line";
    EXPECT_TRUE(waitUntil([&] { return windowShows("Set up Parlwick"); }, 15));
    EXPECT_TRUE(waitUntil(
        [&] {
            return run("/usr/bin/python3", {ATSPI_BUTTONS, "state", "Parlwick", "Try again"}) ==
                   "showing\n";
        },
        15))
        << "the setup window offers to try again";
    auto asked = web->requests();
    ASSERT_FALSE(asked.empty());
    EXPECT_EQ(asked[0].rfind("GET /ggml-org/whisper-vad/resolve/main/" + silero, 0), 0u)
        << asked[0];
    EXPECT_EQ(logText().find("ready. hold"), std::string::npos) << "no dictation without models";

    // "Try again" starts the download over, and it fails the same way.
    ASSERT_TRUE(press("Try again"));
    EXPECT_TRUE(waitUntil([&] { return logCount("download failed: ") == 2; }, 30)) << logText();
    EXPECT_TRUE(waitUntil([&] { return web->requests().size() > asked.size(); }, 5));

    asked = web->requests();
    placeModels();
    EXPECT_TRUE(waitForLog("model files found in place", 10)) << logText();
    ASSERT_TRUE(waitForLog("ready. hold right Alt to talk", 45)) << logText();
    EXPECT_EQ(web->requests().size(), asked.size()) << "nothing fetched once the files are there";

    const std::string typed = expectedFor("Notes");
    fields.focus("normal");
    holdAndSpeak();
    EXPECT_EQ(fields.waitForText("normal", typed, 45), typed) << logText();
}

// A second launch hands over to the running copy, which shows its window; "Quit Parlwick" in
// the tray ends the app and its speech engine.
TEST_F(AppEndToEnd, StartingStaysUntilTheSpeechEngineAnswers) {
    placeModels();
    writeSettings("hasCompletedSetup=true\n");
    // An engine that takes its time over the warm-up, as a large model on a slow computer does.
    const fs::path engine = prefix / "libexec/parlwick/whisper-server";
    fs::create_directories(engine.parent_path());
    fs::remove(engine);
    writeAll(engine,
             "#!/bin/sh\nSTAND_IN_MODE=slow STAND_IN_DELAY=8 exec '" STAND_IN_SERVER "' \"$@\"\n");
    fs::permissions(engine, fs::perms::owner_all);
    start({{"PARLWICK_AUTOSTART", "1"}});
    EXPECT_TRUE(trayShows("Starting…", false)) << "the key is heard, the engine still loads";
    EXPECT_FALSE(trayShows("Hold right Alt to talk", false));
    EXPECT_TRUE(waitUntil([&] { return trayShows("Hold right Alt to talk", false); }, 30))
        << logText();
}

TEST_F(AppEndToEnd, ASecondLaunchReopensTheFirstAndQuitFromTheTrayEndsEverything) {
    placeModels();
    writeSettings("hasCompletedSetup=true\n");
    start({{"PARLWICK_AUTOSTART", "1"}});
    ASSERT_TRUE(waitUntil([&] { return speechEngines().size() == 1; }, 30))
        << "the warm-up starts the engine: " << logText();
    EXPECT_FALSE(windowShows("Parlwick")) << "no window at login";

    const auto second =
        runProcess({"/usr/bin/timeout", "20", executable().string()}, environment());
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_TRUE(waitUntil([&] { return windowShows("Parlwick"); }, 15))
        << "the first copy shows its window";
    EXPECT_TRUE(parlwick->isRunning());
    EXPECT_EQ(speechEngines().size(), 1u) << "the second copy started nothing";

    clickTray("Quit Parlwick");
    ASSERT_TRUE(waitUntil([&] { return !parlwick->isRunning(); }, 20)) << logText();
    const int status = parlwick->exitStatus();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(waitUntil([&] { return installedProcesses().empty(); }, 10))
        << "left behind: " << testing::PrintToString(installedProcesses());
    parlwick.reset();
}

} // namespace
