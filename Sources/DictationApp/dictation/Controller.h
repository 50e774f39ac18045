#pragma once

#include "CleanupPipeline.h"
#include "Dictation.h"
#include "Joiner.h"
#include "Options.h"
#include "ScreenContext.h"
#include "TapTracker.h"
#include "TimingLog.h"
#include "audio/Recorder.h"
#include "cleanup/OnDeviceCleaner.h"
#include "config/Settings.h"
#include "desktop/FocusProbe.h"
#include "desktop/WindowProbe.h"
#include "dictation/DictationState.h"
#include "dictation/RecordKeyMonitor.h"
#include "dictation/TextInserter.h"
#include "platform/Clock.h"
#include "platform/MainThread.h"
#include "platform/Scheduler.h"
#include "platform/SerialQueue.h"
#include "speech/SpeechEngine.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The dictation state machine: the record key starts and ends recordings, a finished recording
// goes through the speech check, transcription and cleanup on the "app.pipeline" queue, and
// the text comes back to the main thread to be typed. Everything but the pipeline and the
// live-words transcriptions runs on the main thread.
class Controller final : public RecordKeyTarget {
  public:
    // Shorter recordings are taps (and dropped).
    static constexpr double minimumSeconds = TapTracker::maxTap;
    static constexpr double handsFreeSeconds = 300;
    // How long a silent or failed dictation can be retried.
    static constexpr double retrySeconds = 600;
    static constexpr double liveWordsInterval = 0.8;
    static constexpr double liveWordsWindow = 12.0;

    static constexpr const char* microphoneProblem = "Can't use the microphone";
    static constexpr const char* noSpeech = "No speech found";
    static constexpr const char* noWords = "No words found";
    static constexpr const char* transcriptionFailed = "Couldn't transcribe that";

    using Samples = std::vector<float>;
    using SampleReceiver = std::function<void(Samples)>;

    // What the app adds to an ordinary field's text: its group's style and the snippets.
    struct Formatting {
        WritingStyle style = WritingStyle::polished;
        std::vector<Snippet> snippets;
    };

    // One recording on its way through the pipeline.
    struct Job {
        Timestamp date; // when the recording ended
        Samples samples;
        double seconds = 0;
        ScreenContext context;
        bool isSecure = false;
        bool heardSpeech = false;
        // Asked of the app when the job is sent down the pipeline; none: typed as cleaned.
        std::optional<Formatting> formatting;
    };

    // The world around the controller. The clock, the speech check, the speech engine and the
    // cleaner are also used on the worker threads, so they must be safe there.
    struct Parts {
        std::unique_ptr<Recorder> recorder;
        TextInserter& paster;
        WindowProbe& windows;
        FocusProbe& focus;
        Scheduler& scheduler;
        // "playSound" and "retention" are read here at every use.
        SettingsFile settings;
        // True when the samples hold no speech (the voice-activity check).
        std::function<bool(std::span<const float>)> isSilent;
        // The pop after a recording.
        std::function<void()> playSound;
        // The wall-clock for records, its uptime for taps and held keys. The recorder must
        // measure with the same clock.
        std::shared_ptr<const Clock> clock = std::make_shared<SystemClock>();
        std::shared_ptr<const OnDeviceCleaner> cleaner = std::make_shared<OnDeviceCleaner>();
        // App mode: the retention setting "off" also keeps the timing rows out.
        bool isApp = false;
    };

    Controller(Options options, SpeechEngine& server, TimingLog timingLog, Parts parts);
    ~Controller() override;
    Controller(const Controller&) = delete;
    Controller& operator=(const Controller&) = delete;

    // Hooks with inert defaults; start-up assigns them.
    // The formatting of the app's text for the app group, as the settings and snippets stand
    // when the job starts; the terminal has none.
    std::function<std::optional<Formatting>(AppGroup)> formatting = [](AppGroup) {
        return std::optional<Formatting>();
    };
    std::function<void(const Dictation&, const Samples&)> onResult = [](const Dictation&,
                                                                        const Samples&) {};
    // Asked at key down: a receiver that wants this recording's samples instead of dictation.
    std::function<std::optional<SampleReceiver>()> captureTarget = [] {
        return std::optional<SampleReceiver>();
    };
    std::function<std::string()> keyLabel = [] { return std::string("the key"); };

    // What dictation is doing, for the views.
    DictationState& state() { return state_; }
    const DictationState& state() const { return state_; }

    // The record key's events.
    void keyDown() override;
    void keyUp() override;
    void cancel() override;
    void toggle() override;
    void userActed() override { joiner_.userActed(); }
    bool isHandsFree() const override { return isHandsFree_; }

    // Ends a running recording and sends it down the pipeline.
    void stop();
    // A silent or failed dictation can be run again for a while, from the same app.
    bool canRetry() const;
    void retryLast();
    // "Delete all" also forgets what could be retried.
    void forgetRetry() { keepRetry(std::nullopt); }

    bool isRecording() const { return recorder_->startedAt().has_value(); }
    std::int64_t session() const { return session_; }
    const std::optional<Job>& retryJob() const { return retryJob_; }
    // Blocks until the queued pipeline and live-words work has run (its results are then
    // waiting on the main loop). For quitting and tests.
    void waitForWork();

  private:
    // What the pipeline needs, copied for every job so the worker shares nothing.
    struct Work;

    void startHandsFree();
    Recorder::Recording endRecording();
    void startLiveWords();
    void liveWordsTick(std::int64_t session);
    void runPipeline(Job job, bool checkSpeech);
    Work work();
    static void process(const Work& work, Job job, std::int64_t session, bool checkSpeech);
    static void nothing(const Work& work, const Job& job, Outcome outcome,
                        const std::string& problem, std::int64_t session);
    void deliver(const Dictation& dictation, const Job& job);
    void keepForRetry(const Job& job);
    void keepRetry(std::optional<Job> job);
    void endSessionDisplay(std::int64_t session, const std::optional<std::string>& error);
    std::string frontmostName() const;

    Options options_;
    SpeechEngine& server_;
    TimingLog timingLog_;
    Parts parts_;
    Recorder* recorder_;
    // What the workers and timers report; closed first when the controller goes.
    Inbox inbox_;
    DictationState state_;

    std::optional<SampleReceiver> capture_;
    std::optional<Job> retryJob_;
    Joiner joiner_;
    bool isSecure_ = false;
    TapTracker taps_;
    std::unique_ptr<Scheduler::Timer> handsFreeTimer_;
    bool isHandsFree_ = false;
    std::optional<ScreenContext> context_;
    std::unique_ptr<Scheduler::Timer> liveTimer_;
    bool liveBusy_ = false;
    bool heardSpeech_ = false;
    std::int64_t session_ = 0;

    SerialQueue work_{"app.pipeline"};
    SerialQueue live_{"app.live"};
};
