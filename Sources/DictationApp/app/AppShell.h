#pragma once

#include "HotKey.h"
#include "cleanup/LocalModel.h"
#include "config/Settings.h"
#include "dictation/Controller.h"
#include "models/ModelChoice.h"
#include "models/ModelDownloader.h"
#include "platform/Clock.h"
#include "platform/MainThread.h"
#include "platform/Paths.h"
#include "platform/Scheduler.h"
#include "setup/SetupModel.h"
#include "storage/HistoryStore.h"
#include "storage/Stores.h"
#include "ui/setup/SetupWindow.h"
#include "ui/tray/StatusFeed.h"
#include "ui/tray/StatusMenu.h"
#include "ui/window/AppState.h"
#include "ui/window/MainWindow.h"
#include "updates/Updates.h"
#include "voice/VoiceTest.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class SpeechEngine;

// What the installed app adds around dictation: the stores, the windows' state, the main and
// setup windows, the tray, voice tuning, update checks and the first model download, each
// wired to the controller. Made once on the main thread after the controller, and gone before
// it.
class AppShell {
  public:
    static constexpr const char* downloadingText = "Downloading speech model…";
    static std::string downloadFailedText(const std::string& appName) {
        return "Download failed. Open " + appName + " to try again.";
    }

    struct Parts {
        Paths paths;
        Settings& settings;
        RecordKey& key;
        std::shared_ptr<const Clock> clock;
        Scheduler& scheduler;
        Controller& controller;
        // The server dictation uses, shared with voice tuning.
        std::shared_ptr<SpeechEngine> engine;
        SetupModel::Checks checks;
        // The files dictation needs and where they come from.
        std::vector<ModelDownloader::Model> models;
        // Brings the workers' answers to the main thread.
        Deliver deliver = mainThread();
        // The language dictation transcribes, and how the engine takes up another model.
        std::string language = "en";
        std::function<void(const std::filesystem::path&)> useModel =
            [](const std::filesystem::path&) {};
        // Times the candidate models on a worker; empty: the engine on this computer.
        using Measure = std::function<std::vector<SpeechModels::Timing>(
            const std::vector<SpeechModels::Model>&, const std::atomic<bool>& stop)>;
        Measure measure;
    };

    explicit AppShell(Parts parts);
    ~AppShell();
    AppShell(const AppShell&) = delete;
    AppShell& operator=(const AppShell&) = delete;

    // What the controller formats an ordinary field's text with: the style stored for the
    // app's group and the snippets as the store holds them.
    static Controller::Formatting formatting(const SettingsFile& settings,
                                             const SnippetStore& snippets, AppGroup group);
    // Adds a finished dictation to the history, with its recording only when one is kept.
    static void keep(HistoryStore& history, const Dictation& dictation,
                     const Controller::Samples& samples);

    // The setup window while setup is needed, else the main window.
    void showWindow();
    // Start-up's own status text, for the tray and the windows.
    void showStatus(const std::string& text);
    void setReady(bool ready);
    // Dictation can begin once the model files are there: at once, or after the download
    // calls `begin`, and while a failed download waits for "Try again", as soon as the files
    // appear by other means.
    void whenModelsPresent(std::function<void()> begin);
    // Offers a waiting crash report, once start-up has begun.
    void offerCrashReport();

    AppState& state() { return state_; }
    const AppParts& parts() const { return windowParts_; }
    SetupModel& setup() { return setup_; }
    HistoryStore& history() { return history_; }
    StatusMenu& statusMenu() { return menu_; }
    MainWindow& mainWindow() { return window_; }
    SetupWindow& setupWindow() { return setupWindow_; }
    std::function<void()> onQuit = [] {};

  private:
    void wire();
    // Before the first download: times the engine for each candidate model, then fetches the
    // one chosen for this computer.
    void measureThenDownload();
    // What dictation needs from now on: the voice-activity model and `model`.
    void needModel(const SpeechModels::Model& model);
    void chooseModel(const std::vector<SpeechModels::Timing>& timings);
    // Times the engine on this computer.
    Parts::Measure engineMeasurement() const;
    void startDownload();
    void downloadFinished(const std::optional<std::string>& error);
    void watchForModels();

    Paths paths_;
    Controller& controller_;
    Scheduler& scheduler_;
    Settings& settings_;
    HistoryStore history_;
    WordStore words_;
    SnippetStore snippets_;
    NoteStore notes_;
    AppState state_;
    VoiceTest voiceTest_;
    std::unique_ptr<Updates> updates_;
    std::string language_;
    std::function<void(const std::filesystem::path&)> useModel_;
    std::unique_ptr<ModelChoice> modelChoice_;
    LocalModel localModel_;
    // What the windows work with; made before them, gone after them.
    AppParts windowParts_;
    MainWindow window_;
    SetupModel setup_;
    SetupWindow setupWindow_;
    StatusMenu menu_;
    StatusFeed feed_;
    ModelDownloader downloader_;
    std::function<void()> begin_;
    bool begun_ = false;
    int percent_ = 0; // of the download in flight
    std::int64_t fetchBytes_ = 0;
    // When the file in flight began to come, and at what percent (a resumed one not at 0).
    std::optional<std::pair<double, int>> fetchStart_;
    // "Check for Updates…" in the tray was chosen and its answer is due there.
    bool trayAskedForUpdates_ = false;
    // While a failed download waits: looks for files the user put there by hand.
    std::unique_ptr<Scheduler::Timer> modelWatch_;
};
