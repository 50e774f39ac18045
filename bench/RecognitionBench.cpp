// What the user waits for: from releasing the record key to the text being issued, through the
// real controller, the real whisper-server and the real voice-activity tool, with models of the
// real shapes of large-v3-turbo (q5_0), small.en and base.en (q8_0). Every matrix product costs
// what the real model's costs; only the decoder is crafted, to answer a fixed sentence of 12
// words for a 5 s dictation and 42 words for a 15 s one, and end.
//
// Each model and length runs in three settings, one after the other under the same load:
//   before       the engine as it was asked until now: the full 30 s context, whisper's own
//                decoding thresholds, a 30 s request limit, and a live-words pass over the last
//                12 s started just before the release, which the final request waits behind;
//   live off     the engine as it is asked now, no live words;
//   live on      the same with live words as the controller runs them: a pass starts shortly
//                before the release when the engine keeps up with the interval, and gives way.
// Reported per case: the median (p50) and p95 of release-to-text in milliseconds, how many of
// the dictations landed, and the live passes run. Models are generated when a case first needs
// them (the quantize tool that setup.sh installs beside whisper-server), never in the tests.
//
//   ./build/release/bench/recognition-bench --benchmark_filter=turbo
// Set PARLWICK_BENCH_ITERATIONS to change the dictations per case (default: 3 for turbo, 5 else).
#include "AudioTools.h"
#include "FakeFocusProbe.h"
#include "FakeWindowProbe.h"
#include "FixedClock.h"
#include "ManualScheduler.h"
#include "RunBenchmarks.h"
#include "TestModels.h"
#include "dictation/Controller.h"
#include "speech/VoiceActivityCheck.h"
#include "speech/WhisperServer.h"

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;
using namespace std::chrono_literals;

enum class Setting { before, liveOff, liveOn };

struct Model {
    const char* name; // as the bench names it
    const char* shape;
    const char* type; // quantization
};
constexpr Model models[] = {
    {"turbo", "turbo", "q5_0"},
    {"small.en", "small.en", "q8_0"},
    {"base.en", "base.en", "q8_0"},
};

fs::path folder() {
    return fs::path(std::getenv("XDG_DATA_HOME"));
}

// The model answering `words` words, made once and kept for the run.
const fs::path& modelFile(const Model& model, int words, std::string& failure) {
    static std::map<std::string, fs::path> made;
    const std::string key = std::string(model.name) + "-" + std::to_string(words);
    if (const auto found = made.find(key); found != made.end()) {
        return found->second;
    }
    const fs::path file = folder() / ("ggml-" + key + ".bin");
    const fs::path server = fs::canonical(findProgram("whisper-server"));
    const fs::path quantize = server.parent_path() / "whisper-quantize";
    try {
        const auto shape = TestModels::whisperShape(model.shape);
        TestModels::writeWhisper(file.string() + ".f16", TestModels::passage(words), *shape);
        TestModels::quantizeWhisper(quantize, file.string() + ".f16", file, model.type);
    } catch (const std::exception& error) {
        failure = error.what();
    }
    return made[key] = file;
}

// Speech filling exactly `seconds`: espeak-ng reading on, cut there.
std::vector<float> speechOf(double seconds) {
    static std::vector<float> long_;
    if (long_.empty()) {
        std::string text;
        for (int i = 0; i < 4; ++i) {
            text += "Please send the quarterly report to the finance team before Friday "
                    "morning, and copy Maria so she can check the numbers for the board. ";
        }
        writeSpeech(folder() / "speech.wav", text);
        long_ = readWav(folder() / "speech.wav");
    }
    std::vector<float> samples(
        long_.begin(), long_.begin() + static_cast<std::ptrdiff_t>(
                                           std::min(long_.size(), std::size_t(seconds * 16000))));
    samples.resize(static_cast<std::size_t>(seconds * 16000), 0.0f);
    return samples;
}

// The recording the key held: the speech as captured so far, by the test's clock.
class SpeechRecorder final : public Recorder {
  public:
    SpeechRecorder(std::vector<float> speech, const FixedClock& clock)
        : speech_(std::move(speech)), clock_(clock) {}
    void start() override { startedAt_ = clock_.uptime(); }
    Recording stop() override {
        const double seconds = startedAt_ ? clock_.uptime() - *startedAt_ : 0;
        startedAt_.reset();
        return {speech_, seconds};
    }
    std::vector<float> snapshot(std::optional<double> last) const override {
        const double elapsed = startedAt_ ? clock_.uptime() - *startedAt_ : 0;
        const auto count = std::min(speech_.size(), static_cast<std::size_t>(elapsed * 16000));
        return Recorder::lastSamples(std::span<const float>(speech_.data(), count), last);
    }
    std::optional<double> startedAt() const override { return startedAt_; }

  private:
    std::vector<float> speech_;
    const FixedClock& clock_;
    std::optional<double> startedAt_;
};

// The engine as the controller meets it, counting live passes; in the setting before, a live
// pass was an ordinary request that nothing ended, and ran whatever the engine's speed.
class BenchEngine final : public SpeechEngine {
  public:
    BenchEngine(WhisperServer& server, bool asBefore) : server_(server), asBefore_(asBefore) {}
    std::string transcribe(std::span<const float> samples) override {
        return server_.transcribe(samples);
    }
    std::string attempt(const std::string& wav, const std::string& prompt) override {
        return server_.attempt(wav, prompt);
    }
    std::string preview(const std::string& wav, const std::string& prompt) override {
        ++previews;
        return asBefore_ ? server_.attempt(wav, prompt) : server_.preview(wav, prompt);
    }
    void giveWay() override {
        if (!asBefore_) {
            server_.giveWay();
        }
    }
    bool keepsUp(double seconds, double limit) const override {
        return asBefore_ || server_.keepsUp(seconds, limit);
    }
    std::string prompt() const override { return {}; }
    std::atomic<int> previews{0};

  private:
    WhisperServer& server_;
    bool asBefore_;
};

class Inserter final : public TextInserter {
  public:
    void paste(const std::string& text, bool) override {
        at = Steady::now();
        last = text;
    }
    std::optional<Steady::time_point> at;
    std::string last;
};

struct Result {
    double milliseconds = 0;
    bool landed = false;
};

// One controller, one engine and server, as the app wires them.
class Rig {
  public:
    Rig(const fs::path& model, double seconds, Setting setting)
        : seconds_(seconds), setting_(setting),
          clock_(std::make_shared<FixedClock>(Timestamp(std::chrono::seconds(1'800'000'000)))) {
        const fs::path models = folder() / "models";
        fs::create_directories(models);
        if (!fs::exists(models / "ggml-silero-bench.bin")) {
            TestModels::writeVoiceActivity(models / "ggml-silero-bench.bin");
        }
        auto setup = WhisperServer::Setup::standard(Paths(folder() / "bin/parlwick", std::nullopt,
                                                          Paths::Homes::under(folder()), folder()));
        setup.program = findProgram("whisper-server");
        if (setting == Setting::before) {
            setup.fitsContext = false;
            setup.guardsDecoding = false;
            setup.requestLimit = 30s;
        }
        server_ = std::make_unique<WhisperServer>(model, "en", setup);
        engine_ = std::make_unique<BenchEngine>(*server_, setting == Setting::before);
        Controller::Parts parts{
            std::make_unique<SpeechRecorder>(speechOf(seconds), *clock_),
            paster_,
            windows_,
            focus_,
            scheduler_,
            SettingsFile(folder() / "settings.ini"),
            [tool = VoiceActivityCheck::SpeechTool{findProgram("whisper-vad-speech-segments"),
                                                   models / "ggml-silero-bench.bin",
                                                   5}](std::span<const float> samples) {
                return VoiceActivityCheck::isSilent(samples, tool);
            },
            [] {}};
        parts.clock = clock_;
        controller_ = std::make_unique<Controller>(
            Options{}, *engine_, TimingLog{folder() / "runs.csv"}, std::move(parts));
        controller_->onResult = [this](const Dictation& dictation, const Controller::Samples&) {
            failed_ = dictation.outcome != Outcome::typed;
        };
        server_->start();
        // The app warms the engine at start-up with one short clip; as it was, that was a
        // whole 30 s window, which a slow machine does not finish before the first dictation.
        if (setting != Setting::before) {
            server_->warmUp();
        }
    }

    int previews() const { return engine_->previews; }

    Result dictate() {
        controller_->userActed();
        controller_->keyDown();
        const auto hold = std::chrono::duration<double>(seconds_);
        if (setting_ == Setting::liveOff) {
            clock_->advance(std::chrono::duration_cast<Timestamp::duration>(hold));
        } else {
            // The last live tick comes 0.3 s before the release: its pass is in flight then.
            const auto early = hold - 300ms;
            clock_->advance(std::chrono::duration_cast<Timestamp::duration>(early));
            scheduler_.advanceBy(std::ceil(early.count() / Controller::liveWordsInterval) *
                                 Controller::liveWordsInterval);
            std::this_thread::sleep_for(300ms);
            clock_->advance(std::chrono::duration_cast<Timestamp::duration>(300ms));
        }
        paster_.at.reset();
        paster_.last.clear();
        failed_ = false;
        const auto released = Steady::now();
        controller_->keyUp();
        // Blocks until the controller posts: the overload with a time limit polls, and a
        // polling loop takes a core from the engine on a small machine.
        while (!paster_.at && !failed_) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        const auto ended = paster_.at.value_or(Steady::now());
        // Whatever the live words still run ends before the next dictation.
        controller_->waitForWork();
        QCoreApplication::processEvents();
        return {std::chrono::duration<double, std::milli>(ended - released).count(),
                !failed_ && !paster_.last.empty()};
    }

  private:
    double seconds_;
    Setting setting_;
    std::shared_ptr<FixedClock> clock_;
    ManualScheduler scheduler_;
    Inserter paster_;
    FakeWindowProbe windows_;
    FakeFocusProbe focus_;
    std::unique_ptr<WhisperServer> server_;
    std::unique_ptr<BenchEngine> engine_;
    std::unique_ptr<Controller> controller_;
    bool failed_ = false;
};

// The whisper-server processes of this user now running: one per rig, never a replaced one.
int serversRunning() {
    int count = 0;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        std::error_code unreadable;
        const auto target = fs::read_symlink(entry.path() / "exe", unreadable);
        if (!unreadable && target.filename() == "whisper-server") {
            ++count;
        }
    }
    return count;
}

double percentile(std::vector<double> values, double share) {
    std::sort(values.begin(), values.end());
    // The nearest rank: with few runs p95 is the slowest.
    const auto rank = static_cast<std::size_t>(std::ceil(share * values.size()));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

void dictations(benchmark::State& state, const Model& model, double seconds, Setting setting) {
    const std::string missing =
        missingPrograms({"whisper-server", "whisper-vad-speech-segments", "espeak-ng", "sox"});
    if (!missing.empty()) {
        state.SkipWithError(missing.c_str());
        return;
    }
    std::string failure;
    const fs::path& file = modelFile(model, seconds < 10 ? 12 : 42, failure);
    if (!failure.empty()) {
        state.SkipWithError(("could not make the model: " + failure).c_str());
        return;
    }
    Rig rig(file, seconds, setting);
    std::vector<double> times;
    int landed = 0;
    for (auto _ : state) {
        const Result outcome = rig.dictate();
        times.push_back(outcome.milliseconds);
        landed += outcome.landed ? 1 : 0;
        state.SetIterationTime(outcome.milliseconds / 1000);
    }
    auto& c = state.counters;
    c["p50_ms"] = percentile(times, 0.5);
    c["p95_ms"] = percentile(times, 0.95);
    c["landed"] = landed;
    c["dictations"] = static_cast<double>(times.size());
    c["live_passes"] = rig.previews();
    c["servers"] = serversRunning();
    char label[160];
    std::snprintf(label, sizeof label, "%s %.0f s: p50 %.0f ms, p95 %.0f ms, %d of %zu landed",
                  model.name, seconds, c["p50_ms"].value, c["p95_ms"].value, landed, times.size());
    state.SetLabel(label);
}

void registerCases() {
    const char* chosen = std::getenv("PARLWICK_BENCH_ITERATIONS");
    for (const Model& model : models) {
        const int iterations =
            chosen ? std::max(1, std::atoi(chosen)) : (model.name == std::string("turbo") ? 3 : 5);
        for (const double seconds : {5.0, 15.0}) {
            for (const auto& [setting, name] :
                 {std::pair{Setting::before, "before"}, std::pair{Setting::liveOff, "live_off"},
                  std::pair{Setting::liveOn, "live_on"}}) {
                const std::string title = std::string(model.name) + "/" +
                                          std::to_string(static_cast<int>(seconds)) + "s/" + name;
                benchmark::RegisterBenchmark(
                    title.c_str(),
                    [&model, seconds, setting = setting](benchmark::State& state) {
                        dictations(state, model, seconds, setting);
                    })
                    ->UseManualTime()
                    ->Iterations(iterations)
                    ->Unit(benchmark::kMillisecond);
            }
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    std::string pattern = (fs::temp_directory_path() / "parlwick-recognition-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path root(pattern);
    ::setenv("XDG_DATA_HOME", root.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (root / "cache").c_str(), 1);
    ::setenv("GGML_NO_BACKTRACE", "1", 1);
    int status = 0;
    {
        QCoreApplication app(argc, argv);
        registerCases();
        status = runBenchmarks(argc, argv);
    }
    std::error_code ignored;
    fs::remove_all(root, ignored);
    return status;
}
