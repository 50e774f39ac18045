// How long a dictation takes from the record key's release to the paste being issued, through
// the real controller, the real whisper-server and the real voice-activity tool (both with
// generated models). Targets, not counting the server's own time (HTTP round trip and
// inference): under 150 ms median with the speech check, under 30 ms without it.
//
// The microphone is not part of this measurement: a stand-in recorder hands over espeak-ng
// speech when the key goes up, as the real one hands over what it captured. The server is
// timed per dictation around SpeechEngine::transcribe and reported apart (that span also holds
// the WAV encoding and the HTTP client; speech-bench measures the client's share).
//
// Qt runs on its offscreen platform, so drawing the pill costs less than on a real display.
// The pop after a recording needs a sound server and is left out.
#include "AudioTools.h"
#include "FakeFocusProbe.h"
#include "FakeWindowProbe.h"
#include "FixedClock.h"
#include "ManualScheduler.h"
#include "TestModels.h"
#include "dictation/Controller.h"
#include "speech/VoiceActivityCheck.h"
#include "speech/WhisperServer.h"
#include "ui/Pill.h"

#include <QApplication>
#include <algorithm>
#include <array>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

constexpr const char* sentence =
    "um so first buy milk second call Anna sorry Maria new paragraph thanks";
constexpr int dictations = 20;

// The moments one dictation passes, stamped from whichever thread reaches them. Stamps before
// `arm` (the live words' speech checks) are not part of the dictation and are ignored.
class Stamps {
  public:
    enum Step { released, checkStarted, transcribeStarted, transcribeEnded, finished, pasted };

    void arm() {
        std::lock_guard guard(lock_);
        times_ = {};
        failed_ = false;
        armed_ = true;
        times_[released] = Steady::now();
    }
    void mark(Step step) {
        const auto now = Steady::now();
        std::lock_guard guard(lock_);
        if (armed_) {
            times_[step] = now;
        }
    }
    void fail() {
        std::lock_guard guard(lock_);
        failed_ = true;
    }
    bool isOver() {
        std::lock_guard guard(lock_);
        return failed_ || times_[pasted];
    }
    bool failed() {
        std::lock_guard guard(lock_);
        return failed_;
    }
    std::optional<Steady::time_point> at(Step step) {
        std::lock_guard guard(lock_);
        return times_[step];
    }
    void disarm() {
        std::lock_guard guard(lock_);
        armed_ = false;
    }

  private:
    std::mutex lock_;
    bool armed_ = false;
    bool failed_ = false;
    std::array<std::optional<Steady::time_point>, pasted + 1> times_{};
};

// The recording the key held: the speech as captured so far, by the test's clock.
class SpeechRecorder final : public Recorder {
  public:
    SpeechRecorder(std::vector<float> speech, const FixedClock& clock)
        : speech_(std::move(speech)), clock_(clock) {}

    void start() override { startedAt_ = clock_.uptime(); }
    Recording stop() override {
        if (!startedAt_) {
            return {};
        }
        const double seconds = elapsed();
        startedAt_.reset();
        return {speech_, seconds};
    }
    std::vector<float> snapshot(std::optional<double> last) const override {
        const auto count = std::min(speech_.size(), static_cast<std::size_t>(elapsed() * 16000));
        const std::span<const float> captured(speech_.data(), count);
        return Recorder::lastSamples(captured, last);
    }
    std::optional<double> startedAt() const override { return startedAt_; }

  private:
    double elapsed() const { return startedAt_ ? clock_.uptime() - *startedAt_ : 0; }

    std::vector<float> speech_;
    const FixedClock& clock_;
    std::optional<double> startedAt_;
};

// The real server, timed around the whole recording's transcription.
class TimedEngine final : public SpeechEngine {
  public:
    TimedEngine(SpeechEngine& server, Stamps& stamps) : server_(server), stamps_(stamps) {}

    std::string transcribe(std::span<const float> samples) override {
        stamps_.mark(Stamps::transcribeStarted);
        std::string text = server_.transcribe(samples);
        stamps_.mark(Stamps::transcribeEnded);
        return text;
    }
    // The live words' requests.
    std::string attempt(const std::string& wav, const std::string& prompt) override {
        return server_.attempt(wav, prompt);
    }
    std::string prompt() const override { return server_.prompt(); }

  private:
    SpeechEngine& server_;
    Stamps& stamps_;
};

class StampingInserter final : public TextInserter {
  public:
    explicit StampingInserter(Stamps& stamps) : stamps_(stamps) {}
    void paste(const std::string& text, bool) override {
        stamps_.mark(Stamps::pasted);
        last = text;
    }
    std::string last;

  private:
    Stamps& stamps_;
};

// What both cases share: the models, the speech and one running server.
struct World {
    fs::path folder;
    std::string missing; // why the bench cannot run, when it cannot
    std::vector<float> speech;
    VoiceActivityCheck::SpeechTool tool;
    std::unique_ptr<WhisperServer> server;
};

std::unique_ptr<World> made;

World& world() {
    if (made) {
        return *made;
    }
    made = std::make_unique<World>();
    World& world = *made;
    world.folder = fs::path(std::getenv("XDG_DATA_HOME"));
    world.missing = missingPrograms({"whisper-server", "whisper-vad-speech-segments"});
    if (world.missing.empty()) {
        world.missing = missingPrograms({"espeak-ng", "sox"});
    }
    if (!world.missing.empty()) {
        return world;
    }
    const fs::path models = world.folder / "models";
    fs::create_directories(models);
    TestModels::writeWhisper(models / "ggml-bench.bin", sentence);
    TestModels::writeVoiceActivity(models / "ggml-silero-bench.bin");
    writeSpeech(world.folder / "speech.wav", sentence);
    world.speech = readWav(world.folder / "speech.wav");
    world.tool = {findProgram("whisper-vad-speech-segments"), models / "ggml-silero-bench.bin", 5};
    auto setup =
        WhisperServer::Setup::standard(Paths(world.folder / "bin/parlwick", std::nullopt,
                                             Paths::Homes::under(world.folder), world.folder));
    setup.program = findProgram("whisper-server");
    world.server = std::make_unique<WhisperServer>(models / "ggml-bench.bin", "en", setup);
    // The app warms both up at start-up, before the first dictation.
    (void)VoiceActivityCheck::isSilent(std::vector<float>(16000, 0.0f), world.tool);
    (void)world.server->transcribe(world.speech);
    return world;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double sum(const std::vector<double>& values) {
    double total = 0;
    for (double value : values) {
        total += value;
    }
    return total;
}

// One dictation's steps, in milliseconds; together they span release to paste.
struct Steps {
    double release = 0;    // key release until the worker starts (main thread + queue)
    double check = 0;      // the speech check
    double transcribe = 0; // the server's round trip
    double cleanup = 0;    // cleanup and the finish hook
    double paste = 0;      // back to the main thread and the paste call
    double total() const { return release + check + transcribe + cleanup + paste; }
};

double millisecondsBetween(Steady::time_point from, Steady::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

void report(benchmark::State& state, const std::vector<Steps>& runs, double target) {
    std::vector<double> release, check, transcribe, cleanup, paste, total, withoutServer;
    for (const Steps& s : runs) {
        release.push_back(s.release);
        check.push_back(s.check);
        transcribe.push_back(s.transcribe);
        cleanup.push_back(s.cleanup);
        paste.push_back(s.paste);
        total.push_back(s.total());
        withoutServer.push_back(s.total() - s.transcribe);
    }
    const double all = sum(total);
    auto& c = state.counters;
    c["median_ms"] = median(withoutServer);
    c["target_ms"] = target;
    c["server_ms"] = median(transcribe);
    c["worst_ms"] = *std::max_element(withoutServer.begin(), withoutServer.end());
    c["all_in_ms"] = median(total);
    c["release_ms"] = median(release);
    c["check_ms"] = median(check);
    c["cleanup_ms"] = median(cleanup);
    c["paste_ms"] = median(paste);
    c["release_pct"] = 100 * sum(release) / all;
    c["check_pct"] = 100 * sum(check) / all;
    c["server_pct"] = 100 * sum(transcribe) / all;
    c["cleanup_pct"] = 100 * sum(cleanup) / all;
    c["paste_pct"] = 100 * sum(paste) / all;

    char label[200];
    std::snprintf(label, sizeof label,
                  "median %.2f ms without the server (target %.0f), server %.1f ms; release "
                  "%.2f, check %.2f, cleanup %.2f, paste %.2f ms",
                  median(withoutServer), target, median(transcribe), median(release), median(check),
                  median(cleanup), median(paste));
    state.SetLabel(label);
}

// With `viaLiveWords`, one live-words tick hears the speech while the key is held, so the
// release skips the speech check. That is the path of a real dictation of a few seconds: the
// first tick comes 0.8 s into the recording. The tick's work is finished before the release,
// so its own request does not compete with the measured one (in the app one may still be under
// way). A retry also skips the check, but starts from the retry command, not from a release.
// Without it the scheduler never moves, no tick runs, and the release runs the speech check.
void dictation(benchmark::State& state, bool viaLiveWords) {
    World& w = world();
    if (!w.missing.empty()) {
        state.SkipWithError(w.missing.c_str());
        return;
    }
    Stamps stamps;
    TimedEngine engine(*w.server, stamps);
    StampingInserter paster(stamps);
    FakeWindowProbe windows;
    FakeFocusProbe focus;
    ManualScheduler scheduler;
    auto clock = std::make_shared<FixedClock>(Timestamp(std::chrono::seconds(1'800'000'000)));
    auto recorder = std::make_unique<SpeechRecorder>(w.speech, *clock);
    Controller::Parts parts{std::move(recorder),
                            paster,
                            windows,
                            focus,
                            scheduler,
                            SettingsFile(w.folder / "settings.ini"),
                            [&stamps, tool = w.tool](std::span<const float> samples) {
                                stamps.mark(Stamps::checkStarted);
                                return VoiceActivityCheck::isSilent(samples, tool);
                            },
                            [] {}};
    parts.clock = clock;
    Controller controller(Options{}, engine, TimingLog{w.folder / "runs.csv"}, std::move(parts));
    const Pill pill(controller.state()); // drawn as in the app
    controller.finish = [&stamps](const std::string& text, const ScreenContext&) {
        stamps.mark(Stamps::finished);
        return text;
    };
    controller.onResult = [&stamps](const Dictation& dictation, const Controller::Samples&) {
        if (dictation.outcome != Outcome::typed) {
            stamps.fail();
        }
    };
    auto settle = [&controller] {
        for (int i = 0; i < 2; ++i) {
            controller.waitForWork();
            QCoreApplication::processEvents();
        }
    };

    const auto hold = std::chrono::duration_cast<Timestamp::duration>(
        std::chrono::duration<double>(static_cast<double>(w.speech.size()) / 16000));
    const auto liveTick = std::chrono::duration_cast<Timestamp::duration>(
        std::chrono::duration<double>(Controller::liveWordsInterval));
    std::vector<Steps> runs;
    for (auto _ : state) {
        controller.userActed(); // each dictation stands alone, not joined to the one before
        controller.keyDown();
        if (viaLiveWords) {
            clock->advance(liveTick);
            scheduler.advanceBy(Controller::liveWordsInterval);
            settle();
            clock->advance(hold - liveTick);
        } else {
            clock->advance(hold);
        }

        paster.last.clear();
        stamps.arm();
        controller.keyUp();
        // The app's main thread waits in its event loop for the pipeline's result.
        while (!stamps.isOver()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        stamps.disarm();
        settle();

        if (stamps.failed() || paster.last.empty()) {
            state.SkipWithError("the dictation typed nothing (see the log above)");
            break;
        }
        const auto at = [&stamps](Stamps::Step step) { return *stamps.at(step); };
        const auto checked = stamps.at(Stamps::checkStarted);
        if (checked.has_value() == viaLiveWords) {
            state.SkipWithError(viaLiveWords ? "the live words heard no speech"
                                             : "the release skipped the speech check");
            break;
        }
        const auto started = checked.value_or(at(Stamps::transcribeStarted));
        Steps steps;
        steps.release = millisecondsBetween(at(Stamps::released), started);
        steps.check = millisecondsBetween(started, at(Stamps::transcribeStarted));
        steps.transcribe =
            millisecondsBetween(at(Stamps::transcribeStarted), at(Stamps::transcribeEnded));
        steps.cleanup = millisecondsBetween(at(Stamps::transcribeEnded), at(Stamps::finished));
        steps.paste = millisecondsBetween(at(Stamps::finished), at(Stamps::pasted));
        runs.push_back(steps);
        state.SetIterationTime((steps.total() - steps.transcribe) / 1000);
    }
    if (!state.error_occurred()) {
        report(state, runs, viaLiveWords ? 30 : 150);
    }
}

void withSpeechCheck(benchmark::State& state) {
    dictation(state, false);
}
BENCHMARK(withSpeechCheck)->UseManualTime()->Iterations(dictations)->Unit(benchmark::kMillisecond);

void withoutSpeechCheck(benchmark::State& state) {
    dictation(state, true);
}
BENCHMARK(withoutSpeechCheck)
    ->UseManualTime()
    ->Iterations(dictations)
    ->Unit(benchmark::kMillisecond);

QtMessageHandler qtHandler = nullptr;

// The offscreen platform warns each time the pill is raised; everything else goes through.
void quietRaise(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (!message.contains(QStringLiteral("does not support raise()"))) {
        qtHandler(type, context, message);
    }
}

} // namespace

int main(int argc, char** argv) {
    // Private folders for the models, the settings, the vocabulary and the timing rows.
    std::string pattern = (fs::temp_directory_path() / "parlwick-latency-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path folder(pattern);
    ::setenv("XDG_DATA_HOME", folder.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
    ::setenv("GGML_NO_BACKTRACE", "1", 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    fs::create_directory(folder / "runtime");
    fs::permissions(folder / "runtime", fs::perms::owner_all);
    ::setenv("XDG_RUNTIME_DIR", (folder / "runtime").c_str(), 1);
    qtHandler = qInstallMessageHandler(quietRaise);
    int status = 0;
    {
        QApplication app(argc, argv);
        benchmark::Initialize(&argc, argv);
        if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
            status = 1;
        } else {
            benchmark::RunSpecifiedBenchmarks();
        }
        benchmark::Shutdown();
        // Ends the server before its folder goes.
        made.reset();
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return status;
}
