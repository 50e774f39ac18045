#pragma once

#include "HotKey.h"
#include "config/Settings.h"
#include "platform/MainThread.h"
#include "platform/Scheduler.h"
#include "platform/SerialQueue.h"

#include <QObject>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The three things dictation needs before it works (a microphone, access to the desktop's keys
// and the model files), checked once a second. Knows no backend: the checks come in as
// functions. Lives on the main thread; the sound-server check, which may wait on the server, runs
// on a worker of its own and only its answer comes back.
class SetupModel : public QObject {
    Q_OBJECT
  public:
    static constexpr double pollSeconds = 1.0;

    // `notAsked` only where a sandbox asks the user; a plain desktop has no prompt.
    enum class Microphone { notAsked, granted, denied };

    struct MicrophoneCheck {
        Microphone microphone = Microphone::denied;
        // Whether a sound server answered at all (denied: no server, or no real input).
        bool soundServer = false;
        // The input's own description ("Built-in Audio Analog Stereo"), when it has one.
        std::string name = {};
        bool operator==(const MicrophoneCheck&) const = default;
    };

    struct Download {
        // measuring: the engine is timed on this computer to choose the model to fetch.
        // retrying: the network is away; the download goes on from where it stopped.
        enum class State { measuring, waiting, progress, retrying, done, failed };
        State state = State::waiting;
        int percent = 0; // 0...100 while in progress
        // Which model was chosen for this computer and why, in one line; empty before.
        std::string choice;
        // failed: the file came damaged (and was thrown away), not cut off.
        bool damaged = false;
        // progress: the size of the file on its way, and the time it still needs once known.
        int megabytes = 0;
        std::optional<int> secondsLeft;
        static Download of(State state, int percent = 0, std::string choice = {}) {
            Download download;
            download.state = state;
            download.percent = percent;
            download.choice = std::move(choice);
            return download;
        }
        static Download progress(int percent) {
            Download download;
            download.state = State::progress;
            download.percent = percent;
            return download;
        }
        bool operator==(const Download&) const = default;
    };

    // How the desktop is asked. The worker's checks get no state of the model and are called
    // one at a time.
    struct Checks {
        // The default source, judged (worker).
        std::function<MicrophoneCheck()> microphone;
        // Why AT-SPI's field checks cannot run, empty when they can (worker).
        std::function<std::string()> missingFieldChecks;
        // Why keys cannot be seen or sent (an X display with XInput 2 and XTEST), empty when
        // they can (main thread: a local connection, answered at once).
        std::function<std::string()> missingDesktopAccess;
        // A Wayland session: what is missing is told in its terms.
        bool wayland = false;
        // How the record key is heard here, for the user; empty when it is just the key (main
        // thread). Set once the desktop exists.
        std::function<std::string()> recordKeyNote = {};
    };

    // Checks everything once before it returns, then every `pollSeconds` on `scheduler`.
    // `modelFiles` are the model files dictation needs; `deliver` brings the worker's answers
    // to the main thread.
    SetupModel(RecordKey& key, Settings& settings, Checks checks,
               std::vector<std::filesystem::path> modelFiles, Scheduler& scheduler,
               Deliver deliver = mainThread(), QObject* parent = nullptr);
    ~SetupModel() override;
    SetupModel(const SetupModel&) = delete;
    SetupModel& operator=(const SetupModel&) = delete;

    Microphone microphone() const { return microphone_.microphone; }
    bool hasSoundServer() const { return microphone_.soundServer; }
    // Keys can be seen and sent, and fields checked.
    // Typing into other apps: what dictation needs. Telling password fields apart is a
    // warning on this step, not a missing step: dictation works without it.
    bool accessibility() const { return missingAccess_.empty(); }
    const std::string& missingDesktopAccess() const { return missingAccess_; }
    const std::string& missingFieldChecks() const { return missingFieldChecks_; }
    bool isWayland() const { return checks_.wayland; }
    // The microphone in use as the sound server names it; empty when there is none.
    const std::string& microphoneName() const { return microphone_.name; }
    const std::string& recordKeyNote() const { return recordKeyNote_; }
    const Download& download() const { return download_; }
    // The files dictation needs, once the model for this computer is chosen.
    void setModelFiles(std::vector<std::filesystem::path> files) { modelFiles_ = std::move(files); }
    void setDownload(Download download);
    HotKey key() const { return key_.value(); }
    void setKey(HotKey key) { key_.choose(key); }

    bool isComplete() const;
    // 0...3.
    int stepsDone() const;

    // Checks again now: the desktop at once, the microphone on the worker unless a check is
    // already out. Stores "hasCompletedSetup" once everything is there.
    void refresh();
    // A microphone check is out on the worker; its answer has not arrived.
    bool isChecking() const { return asking_; }
    // No prompt exists outside a sandbox: checks again.
    void askForMicrophone() { refresh(); }

    // Whether opening the app should show setup: "hasCompletedSetup" never stored, the
    // microphone or the desktop not there, or a model file missing.
    static bool isNeeded(const SettingsFile& settings, Microphone microphone, bool accessibility,
                         const std::vector<std::filesystem::path>& modelFiles);
    // The same for what the model found last.
    bool isNeeded() const;
    // Whether opening the app shows setup rather than the main window: only for the installed
    // app, when setup is needed or `showSetup` (the environment's SHOW_SETUP) is "1".
    static bool showsSetup(bool isApp, bool needed,
                           const char* showSetup = std::getenv("SHOW_SETUP"));

    // Wired by start-up: the download starts over from 0%.
    std::function<void()> onRetryDownload = [] {};

  signals:
    // Anything above changed.
    void changed();

  private:
    struct WorkerAnswer {
        MicrophoneCheck microphone;
        std::string missingFieldChecks;
    };
    static WorkerAnswer ask(const Checks& checks);
    void take(const WorkerAnswer& answer);
    void storeIfComplete();

    RecordKey& key_;
    Settings& settings_;
    Checks checks_;
    std::vector<std::filesystem::path> modelFiles_;
    Inbox inbox_;
    MicrophoneCheck microphone_;
    std::string missingAccess_;
    std::string recordKeyNote_;
    std::string missingFieldChecks_;
    Download download_;
    bool asking_ = false;
    SerialQueue worker_{"app.setup"};
    std::unique_ptr<Scheduler::Timer> timer_;
};
