#include "dictation/Controller.h"

#include "Cleanup.h"
#include "CleanupPipeline.h"
#include "Text.h"
#include "Uuid.h"
#include "WavEncoder.h"
#include "dictation/FrontApp.h"
#include "platform/Log.h"

#include <chrono>
#include <ctime>

namespace {

using Steady = std::chrono::steady_clock;

std::int64_t millisecondsSince(Steady::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - start).count();
}

double secondsBetween(Timestamp from, Timestamp to) {
    return std::chrono::duration<double>(to - from).count();
}

} // namespace

struct Controller::Work {
    Controller* controller;
    Deliver post;
    SpeechEngine* server;
    std::function<bool(std::span<const float>)> isSilent;
    std::shared_ptr<const OnDeviceCleaner> cleaner;
    bool cleanup;
    TimingLog timingLog;
    std::shared_ptr<const Clock> clock;
    SettingsFile settings;
    bool isApp;

    // Runs `task` on the main thread, unless the controller is gone by then.
    void onMain(std::function<void(Controller&)> task) const {
        post([controller = controller, task = std::move(task)] { task(*controller); });
    }
};

Controller::Controller(Options options, SpeechEngine& server, TimingLog timingLog, Parts parts)
    : options_(std::move(options)), server_(server), timingLog_(std::move(timingLog)),
      parts_(std::move(parts)), recorder_(parts_.recorder.get()) {
    if (!recorder_ || !parts_.isSilent || !parts_.playSound || !parts_.clock || !parts_.cleaner) {
        throw std::invalid_argument("the controller needs every one of its parts");
    }
    // The recorder dies with the controller, so its hooks may hold it.
    recorder_->onLevel = [this](float level) { state_.setLevel(level); };
    recorder_->onInterrupted = [this] {
        if (isRecording()) {
            log("microphone changed while recording");
            stop();
        }
    };
}

Controller::~Controller() {
    inbox_.close();
    if (isRecording()) {
        recorder_->stop();
    }
    waitForWork();
}

// MARK: - The record key

void Controller::keyDown() {
    // A press ends hands-free recording.
    if (isHandsFree_) {
        stop();
        return;
    }
    if (isRecording()) {
        return;
    }
    try {
        recorder_->start();
    } catch (const std::exception& error) {
        log(std::string("could not start recording: ") + error.what());
        state_.fail(microphoneProblem);
        return;
    }
    context_ = FrontApp::capture(parts_.windows);
    isSecure_ = FrontApp::isSecure(parts_.windows, parts_.focus);
    capture_ = captureTarget();

    ++session_;
    heardSpeech_ = false;
    state_.listen();
    // A password must not travel to the speech engine more than once.
    if (!capture_ && !isSecure_) {
        startLiveWords();
    }
}

void Controller::keyUp() {
    const auto startedAt = recorder_->startedAt();
    if (!startedAt || isHandsFree_) {
        return;
    }
    // The recorder started on the same clock's uptime, which no clock step can move.
    const double now = parts_.clock->uptime();
    if (now - *startedAt >= minimumSeconds) {
        stop();
        return;
    }
    // A tap: the first of a double tap, or nothing worth keeping.
    if (taps_.tap(now)) {
        startHandsFree();
    } else {
        endRecording();
        state_.finish();
    }
}

void Controller::cancel() {
    if (!isRecording()) {
        return;
    }
    endRecording();
    state_.finish();
}

void Controller::toggle() {
    if (isRecording()) {
        stop();
        return;
    }
    keyDown();
    if (isRecording()) {
        startHandsFree();
    }
}

void Controller::startHandsFree() {
    isHandsFree_ = true;
    state_.setHint(
        QString::fromStdString("Hands-free. Tap " + keyLabel() + " to finish, esc to cancel"));
    handsFreeTimer_ =
        parts_.scheduler.start(handsFreeSeconds, false, inbox_.guard([this] { stop(); }));
}

Recorder::Recording Controller::endRecording() {
    liveTimer_.reset();
    handsFreeTimer_.reset();
    isHandsFree_ = false;
    // The hands-free hint would otherwise stand in for "Working…".
    state_.setHint({});
    return recorder_->stop();
}

void Controller::stop() {
    if (!isRecording() || !context_) {
        return;
    }
    auto recording = endRecording();
    if (recording.seconds < minimumSeconds) {
        state_.finish();
        return;
    }
    if (capture_) {
        state_.finish();
        auto receiver = std::move(*capture_);
        capture_.reset();
        receiver(std::move(recording.samples));
        return;
    }
    // A live preview still running would hold up the final transcription: it ends now.
    server_.giveWay();
    // Live words that already heard speech make the speech check redundant. The job goes first
    // so the worker starts while the sound and the display are dealt with here.
    const bool checkSpeech = !heardSpeech_;
    runPipeline(Job{parts_.clock->now(), std::move(recording.samples), recording.seconds, *context_,
                    isSecure_, heardSpeech_, std::nullopt},
                checkSpeech);
    if (parts_.settings.get(SettingKeys::playSound)) {
        parts_.playSound();
    }
    state_.work();
}

// MARK: - Retry

std::string Controller::frontmostName() const {
    const auto front = parts_.windows.frontmost();
    return front ? front->appName : std::string();
}

bool Controller::canRetry() const {
    return retryJob_ && secondsBetween(retryJob_->date, parts_.clock->now()) < retrySeconds &&
           frontmostName() == retryJob_->context.appName;
}

void Controller::retryLast() {
    if (!canRetry() || isRecording()) {
        return;
    }
    Job job = std::move(*retryJob_);
    keepRetry(std::nullopt);
    ++session_;
    state_.work();
    runPipeline(std::move(job), false);
}

void Controller::keepForRetry(const Job& job) {
    if (job.isSecure) {
        keepRetry(std::nullopt);
        return;
    }
    keepRetry(job);
    parts_.scheduler.after(retrySeconds, inbox_.guard([this, date = job.date] {
        if (retryJob_ && retryJob_->date == date) {
            keepRetry(std::nullopt);
        }
    }));
}

void Controller::keepRetry(std::optional<Job> job) {
    retryJob_ = std::move(job);
    state_.setCanRetry(retryJob_.has_value());
}

// MARK: - The pipeline

Controller::Work Controller::work() {
    return Work{this,
                inbox_.post(),
                &server_,
                parts_.isSilent,
                parts_.cleaner,
                options_.cleanup,
                timingLog_,
                parts_.clock,
                parts_.settings,
                parts_.isApp};
}

void Controller::runPipeline(Job job, bool checkSpeech) {
    try {
        // A password goes in as spoken.
        if (!job.isSecure) {
            job.formatting = formatting(AppGroups::of(job.context.appName, job.context.writing));
        }
    } catch (const std::exception& error) {
        log(std::string("failed: ") + error.what());
        nothing(work(), job, Outcome::failed, transcriptionFailed, session_);
        return;
    }
    work_.async([work = work(), job = std::move(job), session = session_, checkSpeech]() mutable {
        process(work, std::move(job), session, checkSpeech);
    });
}

void Controller::process(const Work& work, Job job, std::int64_t session, bool checkSpeech) {
    const auto start = Steady::now();
    // Whatever goes wrong before the text is ready (the engine, the cleanup) ends this
    // dictation as failed, never the program.
    const auto fail = [&](const std::exception& error) {
        log(std::string("failed: ") + error.what());
        nothing(work, job, Outcome::failed, transcriptionFailed, session);
    };
    std::string transcript;
    try {
        if (checkSpeech && work.isSilent(job.samples)) {
            nothing(work, job, Outcome::silent, noSpeech, session);
            return;
        }
        transcript = work.server->transcribe(job.samples);
    } catch (const std::exception& error) {
        fail(error);
        return;
    }
    const std::int64_t asrMs = millisecondsSince(start);

    std::int64_t llmMs = 0;
    const auto edit = [&](const std::string& heard) {
        const auto editStart = Steady::now();
        auto candidate = work.cleaner->clean(heard);
        llmMs = millisecondsSince(editStart);
        return candidate;
    };
    CleanupPipeline::Stages stages;
    try {
        const auto& format = job.formatting;
        stages = CleanupPipeline::run(transcript, job.context, work.cleanup, !format,
                                      format ? format->style : WritingStyle::polished,
                                      format ? format->snippets : std::vector<Snippet>(), edit);
    } catch (const std::exception& error) {
        fail(error);
        return;
    }
    if (stages.isEmpty) {
        nothing(work, job, Outcome::silent, noWords, session);
        return;
    }
    if (stages.refusedCandidate) {
        log("on-device edit changed the words, not using it");
    }
    const std::int64_t totalMs = millisecondsSince(start);

    const std::string app = job.context.appName;
    const double seconds = job.seconds;
    const bool isSecure = job.isSecure;
    Dictation dictation{
        Uuid::generate(),        work.clock->now(), seconds,      app,          Outcome::typed,
        std::move(stages.final), transcript,        std::nullopt, std::nullopt, totalMs};
    work.onMain([dictation = std::move(dictation), job = std::move(job)](Controller& controller) {
        controller.deliver(dictation, job);
    });
    work.onMain(
        [session](Controller& controller) { controller.endSessionDisplay(session, std::nullopt); });

    const TimingRecord record{
        work.clock->now(), seconds, Cleanup::wordCount(transcript), asrMs, llmMs, totalMs, app};
    std::string line = app;
    line += ": " + Text::fixed(seconds, 1) + "s audio, " + std::to_string(record.words);
    line += " words, asr " + std::to_string(asrMs) + "ms, llm " + std::to_string(llmMs);
    line += "ms, total " + std::to_string(totalMs) + "ms";
    log(line);

    if (isSecure || (work.isApp && work.settings.get(SettingKeys::retention) == Retention::off)) {
        return;
    }
    try {
        work.timingLog.append(record);
    } catch (const std::exception& error) {
        log(std::string("could not write timing log: ") + error.what());
    }
}

void Controller::nothing(const Work& work, const Job& job, Outcome outcome,
                         const std::string& problem, std::int64_t session) {
    std::string line = job.context.appName;
    line += ": " + Text::fixed(job.seconds, 1) + "s audio, " + Text::lowercased(problem);
    log(line);
    Dictation dictation{Uuid::generate(), work.clock->now(),
                        job.seconds,      job.context.appName,
                        outcome,          std::string(),
                        std::string(),    std::nullopt,
                        problem,          0};
    work.onMain([dictation = std::move(dictation), job](Controller& controller) {
        controller.keepForRetry(job);
        if (job.isSecure) {
            log("not saved: a password field was in use");
        } else {
            controller.onResult(dictation, job.samples);
        }
    });
    std::optional<std::string> error;
    if (outcome == Outcome::failed) {
        error = problem;
    }
    work.onMain(
        [session, error](Controller& controller) { controller.endSessionDisplay(session, error); });
}

void Controller::deliver(const Dictation& dictation, const Job& job) {
    keepRetry(std::nullopt);
    std::string text = dictation.text;
    if (!job.isSecure) {
        text = joiner_.join(text, frontmostName(), parts_.clock->now());
    }
    parts_.paster.paste(text, job.isSecure);
    if (job.isSecure) {
        log("not saved: a password field was in use");
    } else {
        onResult(dictation, job.samples);
    }
}

void Controller::endSessionDisplay(std::int64_t session, const std::optional<std::string>& error) {
    // A newer recording owns the display now.
    if (session != session_ || isRecording()) {
        return;
    }
    if (error) {
        state_.fail(QString::fromStdString(*error));
    } else {
        state_.finish();
    }
}

// MARK: - Live words

void Controller::startLiveWords() {
    liveTimer_ = parts_.scheduler.start(
        liveWordsInterval, true,
        inbox_.guard([this, session = session_] { liveWordsTick(session); }));
}

void Controller::liveWordsTick(std::int64_t session) {
    if (liveBusy_) {
        return;
    }
    auto snapshot = recorder_->snapshot(liveWordsWindow);
    // Live words that cannot keep up with their interval would only queue before the final
    // text: on an engine that slow (or not measured yet) the pill shows the level alone.
    const double seconds = static_cast<double>(snapshot.size()) / Recorder::sampleRate;
    if (!server_.keepsUp(seconds, liveWordsInterval)) {
        return;
    }
    liveBusy_ = true;
    live_.async([work = work(), snapshot = std::move(snapshot), session] {
        bool silent = true;
        std::optional<std::string> text;
        try {
            silent = work.isSilent(snapshot);
            if (!silent) {
                text = work.server->preview(WavEncoder::encode(snapshot), work.server->prompt());
            }
        } catch (const std::exception&) {
            // Live words are a preview; the final transcription reports failures.
        }
        work.onMain([silent, text = std::move(text), session](Controller& controller) {
            controller.liveBusy_ = false;
            const bool current = session == controller.session_;
            if (!silent && current) {
                controller.heardSpeech_ = true;
            }
            if (text && current && !Cleanup::isEmptyTranscript(*text)) {
                controller.state_.setWords(QString::fromStdString(*text));
            }
        });
    });
}

void Controller::waitForWork() {
    live_.drain();
    work_.drain();
}
