#pragma once

#include "Options.h"
#include "TimingLog.h"
#include "app/AppShell.h"
#include "app/SingleInstance.h"
#include "audio/PulseRecorder.h"
#include "desktop/Desktop.h"
#include "dictation/Controller.h"
#include "dictation/Paster.h"
#include "dictation/RecordKeyMonitor.h"
#include "platform/Paths.h"
#include "platform/Scheduler.h"
#include "speech/WhisperServer.h"
#include "ui/Pill.h"

#include <QApplication>
#include <functional>
#include <memory>
#include <string>
#include <thread>

// Makes the objects dictation needs, warms the engines, waits until the desktop lets us see
// and send keys, and then listens for the record key until the program is told to quit. Quitting
// takes it all down in order: no more record key, no recording, the speech engine closed, every
// worker joined, the desktop's borrowed keys given back.
class Startup {
  public:
    static constexpr double permissionPollSeconds = 1.0;
    static constexpr const char* waitingText = "Waiting for Accessibility permission";

    // The desktop backend.
    struct Platform {
        // Why keys cannot be seen or sent on this desktop; empty when they can.
        std::function<std::string()> missingAccess;
        // The backend's objects; called once access is there and the application object exists.
        std::function<Desktop()> makeDesktop;
        // A new key listener, for when the first one found the desktop closed to it.
        std::function<std::unique_ptr<KeyListener>(SyntheticEvents&)> makeKeyListener;
    };

    Startup(Options options, Paths paths, Platform platform);
    ~Startup();
    Startup(const Startup&) = delete;
    Startup& operator=(const Startup&) = delete;

    // Terminal mode: dictates until SIGINT or SIGTERM; the exit status.
    int runTerminal(int& argc, char** argv);
    // The installed app: the tray, the windows and the history around dictation, until it is
    // quit; 0 at once when another copy runs and was asked to show itself.
    int runApp(int& argc, char** argv);

  private:
    // Logs what the desktop does not give us yet.
    void requestPermissions();
    // Warms the engines on a thread of their own, then waits for access.
    void begin();
    // The app's begin: nothing blocks the main loop while the desktop is closed to us.
    void beginApp();
    void warmUp();
    // Blocks until the desktop gives access, checking every second.
    void waitForDesktop();
    void makeDictation();
    // Starts the record-key listener, or checks again every second until it starts.
    void waitForAccessibility();
    bool startListening();
    // Ready: listening for the key, and the engine has answered its warm-up or failed to.
    void engineSettled();
    void showReady();
    void showStatus(const std::string& text);
    void quit();
    void quitOnSignals();
    void shutDown();

    Options options_;
    Paths paths_;
    Platform platform_;
    // What the permission check found missing, for the wait that follows it.
    std::string missingAccess_;
    std::shared_ptr<const Clock> clock_ = std::make_shared<SystemClock>();
    // Shared with voice tuning, whose run may outlive a stop by one transcription.
    std::shared_ptr<WhisperServer> server_;
    TimingLog timingLog_;
    // Asks the model server the user chose, if any, at each dictation.
    std::shared_ptr<const OnDeviceCleaner> cleaner_;
    // Made before the application object, so its first words go into the permission check.
    std::unique_ptr<PulseRecorder> recorder_;
    // App mode only: the settings the windows share.
    std::unique_ptr<Settings> settings_;
    RecordKey key_;
    // Where the warm-up reports; closed, and the warm-up joined, before anything it uses goes.
    Inbox inbox_;
    std::jthread warmUp_;

    std::unique_ptr<QApplication> app_;
    Desktop desktop_;
    std::unique_ptr<MainLoopScheduler> scheduler_;
    std::unique_ptr<Paster> paster_;
    std::unique_ptr<Controller> controller_;
    std::unique_ptr<Pill> pill_;
    std::unique_ptr<RecordKeyMonitor> monitor_;
    std::unique_ptr<Scheduler::Timer> accessTimer_;
    bool listening_ = false;
    bool engineSettled_ = false;
    bool ready_ = false;
    // The key's text, shown once dictation is ready.
    std::string readyText_;
    // App mode only; the shell goes before the controller it is wired to.
    std::unique_ptr<SingleInstance> instance_;
    std::unique_ptr<AppShell> shell_;
};
