// How long a dictation takes from the record key's release to the paste being issued, through
// the real controller, the real whisper-server and the real voice-activity tool (both with
// generated models). Targets, not counting the server's own time (HTTP round trip and
// inference): under 150 ms median with the speech check, under 30 ms without it.
//
// Each case runs as the terminal runs it (the cleaned text is pasted as it is) and as the
// installed app runs it: AppShell's formatting (layout for the app, its group's style, a
// realistic snippet list) is the last text stage, and AppShell's keep adds the result to a history
// that already holds 100 000 dictations. Target: the app within 5 ms of the terminal. Each app
// dictation follows a terminal one, so both meet the same load on the machine and the
// difference of their medians is the app's own cost. The keep runs on the main thread after
// the paste; its time is reported apart.
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
#include "RunBenchmarks.h"
#include "SampleHistory.h"
#include "TestModels.h"
#include "app/AppShell.h"
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
constexpr std::size_t historyLines = 100'000;
// The front window in both modes, so that only the app's own steps differ: an email app, whose
// layout does the most.
constexpr const char* frontApp = "Thunderbird Mail";

enum class Mode { terminal, app };

// The moments one dictation passes, stamped from whichever thread reaches them. Stamps before
// `arm` (the live words' speech checks) are not part of the dictation and are ignored.
class Stamps {
  public:
    enum Step { released, checkStarted, transcribeStarted, transcribeEnded, pasted };

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

// What the installed app keeps: the settings, the snippets and a long history.
struct AppStores {
    std::shared_ptr<FixedClock> clock;
    SettingsFile settings;
    SnippetStore snippets;
    std::unique_ptr<HistoryStore> history;

    explicit AppStores(const fs::path& folder)
        : clock(std::make_shared<FixedClock>(Timestamp(std::chrono::seconds(1'800'000'000)))),
          settings(folder / "settings.ini"), snippets(folder / "snippets.json") {
        settings.set(SettingKeys::retention, Retention::forever);
        std::vector<Snippet> list;
        for (const auto& [phrase, text] : snippetList()) {
            list.push_back(Snippet::make(phrase, text));
        }
        snippets.save(std::move(list));
        const HistoryStore::Locations files{folder / "history.jsonl", folder / "totals.json",
                                            folder / "recordings", folder / "app-runs.csv"};
        SampleHistory::write(files.history, files.totals, historyLines, clock->now(),
                             clock->calendar());
        history = std::make_unique<HistoryStore>(*clock, files, settings);
    }

    // The kind of list people keep: addresses, sign-offs, links, stock answers.
    static std::vector<std::pair<std::string, std::string>> snippetList() {
        return {
            {"my address", "Maria Keller\nLindenstraße 12\n10115 Berlin"},
            {"my email", "maria.keller@example.org"},
            {"my phone", "+49 30 1234 5678"},
            {"best regards", "Best regards,\nMaria"},
            {"kind regards", "Kind regards,\nMaria Keller\nHead of Operations"},
            {"zoom link", "https://zoom.example.com/j/1234567890?pwd=abc"},
            {"calendar link", "https://cal.example.com/maria/30min"},
            {"office hours", "My office hours are Tuesday and Thursday, 2 to 4 pm."},
            {"out of office", "I am out of the office until Monday and will reply then."},
            {"thanks for reaching out", "Thanks for reaching out! I will get back to you soon."},
            {"bank details", "IBAN DE89 3704 0044 0532 0130 00, BIC COBADEFFXXX"},
            {"vat number", "DE123456789"},
            {"shipping address", "Keller GmbH\nHafenweg 3\n20457 Hamburg"},
            {"standup template", "Yesterday:\nToday:\nBlockers:"},
            {"bug template", "Steps to reproduce:\nExpected:\nActual:"},
            {"meeting notes", "Attendees:\nAgenda:\nDecisions:\nAction items:"},
            {"signature short", "— M."},
            {"repo link", "https://git.example.com/team/project"},
            {"wifi password", "correct-horse-battery-staple"},
            {"lorem", "Lorem ipsum dolor sit amet, consectetur adipiscing elit."},
        };
    }
};

std::unique_ptr<World> made;
std::unique_ptr<AppStores> madeStores;

AppStores& appStores() {
    if (!madeStores) {
        madeStores = std::make_unique<AppStores>(made->folder / "app");
    }
    return *madeStores;
}

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

// One dictation's steps, in milliseconds; together they span release to paste.
struct Steps {
    double release = 0;    // key release until the worker starts (main thread + queue)
    double check = 0;      // the speech check
    double transcribe = 0; // the server's round trip
    double cleanup = 0;    // cleanup, formatting, back to the main thread and the paste call
    double total() const { return release + check + transcribe + cleanup; }
};

double millisecondsBetween(Steady::time_point from, Steady::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

struct Medians {
    double withoutServer, release, check, transcribe, cleanup, total;
};

Medians mediansOf(const std::vector<Steps>& runs) {
    std::vector<double> release, check, transcribe, cleanup, total, withoutServer;
    for (const Steps& s : runs) {
        release.push_back(s.release);
        check.push_back(s.check);
        transcribe.push_back(s.transcribe);
        cleanup.push_back(s.cleanup);
        total.push_back(s.total());
        withoutServer.push_back(s.total() - s.transcribe);
    }
    return {median(withoutServer), median(release), median(check),
            median(transcribe),    median(cleanup), median(total)};
}

void report(benchmark::State& state, const std::vector<Steps>& runs, double target) {
    const Medians m = mediansOf(runs);
    double all = 0, release = 0, check = 0, transcribe = 0, cleanup = 0, worst = 0;
    for (const Steps& s : runs) {
        all += s.total();
        release += s.release;
        check += s.check;
        transcribe += s.transcribe;
        cleanup += s.cleanup;
        worst = std::max(worst, s.total() - s.transcribe);
    }
    auto& c = state.counters;
    c["median_ms"] = m.withoutServer;
    c["target_ms"] = target;
    c["server_ms"] = m.transcribe;
    c["worst_ms"] = worst;
    c["all_in_ms"] = m.total;
    c["release_ms"] = m.release;
    c["check_ms"] = m.check;
    c["cleanup_ms"] = m.cleanup;
    c["release_pct"] = 100 * release / all;
    c["check_pct"] = 100 * check / all;
    c["server_pct"] = 100 * transcribe / all;
    c["cleanup_pct"] = 100 * cleanup / all;

    char label[200];
    std::snprintf(label, sizeof label,
                  "median %.2f ms without the server (target %.0f), server %.1f ms; release "
                  "%.2f, check %.2f, cleanup to paste %.2f ms",
                  m.withoutServer, target, m.transcribe, m.release, m.check, m.cleanup);
    state.SetLabel(label);
}

// One controller wired as a mode wires it, with the parts it talks to. With `viaLiveWords`,
// one live-words tick hears the speech while the key is held, so the release skips the speech
// check. That is the path of a real dictation of a few seconds: the first tick comes 0.8 s into
// the recording. The tick's work is finished before the release, so its own request does not
// compete with the measured one (in the app one may still be under way). A retry also skips
// the check, but starts from the retry command, not from a release. Without it the scheduler
// never moves, no tick runs, and the release runs the speech check.
class Rig {
  public:
    // `stores`: the app's, whose formatting and history it uses; none for the terminal.
    Rig(World& w, bool viaLiveWords, AppStores* stores)
        : world_(w), viaLiveWords_(viaLiveWords), engine_(*w.server, stamps_), paster_(stamps_),
          clock_(std::make_shared<FixedClock>(Timestamp(std::chrono::seconds(1'800'000'000)))) {
        windows_.front->appName = frontApp;
        Controller::Parts parts{std::make_unique<SpeechRecorder>(w.speech, *clock_),
                                paster_,
                                windows_,
                                focus_,
                                scheduler_,
                                SettingsFile(w.folder / "settings.ini"),
                                [this, tool = w.tool](std::span<const float> samples) {
                                    stamps_.mark(Stamps::checkStarted);
                                    return VoiceActivityCheck::isSilent(samples, tool);
                                },
                                [] {}};
        parts.clock = clock_;
        parts.isApp = stores != nullptr;
        controller_ = std::make_unique<Controller>(
            Options{}, engine_, TimingLog{w.folder / "runs.csv"}, std::move(parts));
        pill_ = std::make_unique<Pill>(controller_->state()); // drawn as in the app

        if (stores) {
            controller_->formatting = [stores](AppGroup group) {
                return std::optional(
                    AppShell::formatting(stores->settings, stores->snippets, group));
            };
        }
        controller_->onResult = [this, stores](const Dictation& dictation,
                                               const Controller::Samples& samples) {
            if (dictation.outcome != Outcome::typed) {
                stamps_.fail();
            }
            if (stores) {
                const auto start = Steady::now();
                AppShell::keep(*stores->history, dictation, samples);
                keeps.push_back(millisecondsBetween(start, Steady::now()));
            }
        };
    }

    // One dictation from the key going down to the paste: its steps, or why it failed.
    std::optional<Steps> dictate(std::string& failure) {
        const auto hold = std::chrono::duration_cast<Timestamp::duration>(
            std::chrono::duration<double>(static_cast<double>(world_.speech.size()) / 16000));
        const auto liveTick = std::chrono::duration_cast<Timestamp::duration>(
            std::chrono::duration<double>(Controller::liveWordsInterval));
        controller_->userActed(); // each dictation stands alone, not joined to the one before
        controller_->keyDown();
        if (viaLiveWords_) {
            clock_->advance(liveTick);
            scheduler_.advanceBy(Controller::liveWordsInterval);
            settle();
            clock_->advance(hold - liveTick);
        } else {
            clock_->advance(hold);
        }

        paster_.last.clear();
        stamps_.arm();
        controller_->keyUp();
        // The app's main thread waits in its event loop for the pipeline's result.
        while (!stamps_.isOver()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        stamps_.disarm();
        settle();

        if (stamps_.failed() || paster_.last.empty()) {
            failure = "the dictation typed nothing (see the log above)";
            return std::nullopt;
        }
        const auto at = [this](Stamps::Step step) { return *stamps_.at(step); };
        const auto checked = stamps_.at(Stamps::checkStarted);
        if (checked.has_value() == viaLiveWords_) {
            failure = viaLiveWords_ ? "the live words heard no speech"
                                    : "the release skipped the speech check";
            return std::nullopt;
        }
        const auto started = checked.value_or(at(Stamps::transcribeStarted));
        Steps steps;
        steps.release = millisecondsBetween(at(Stamps::released), started);
        steps.check = millisecondsBetween(started, at(Stamps::transcribeStarted));
        steps.transcribe =
            millisecondsBetween(at(Stamps::transcribeStarted), at(Stamps::transcribeEnded));
        steps.cleanup = millisecondsBetween(at(Stamps::transcribeEnded), at(Stamps::pasted));
        return steps;
    }

    // How long each result took to reach the history, on the main thread after the paste.
    std::vector<double> keeps;

  private:
    void settle() {
        for (int i = 0; i < 2; ++i) {
            controller_->waitForWork();
            QCoreApplication::processEvents();
        }
    }

    World& world_;
    bool viaLiveWords_;
    Stamps stamps_;
    TimedEngine engine_;
    StampingInserter paster_;
    FakeWindowProbe windows_;
    FakeFocusProbe focus_;
    ManualScheduler scheduler_;
    std::shared_ptr<FixedClock> clock_;
    std::unique_ptr<Controller> controller_;
    std::unique_ptr<Pill> pill_;
};

// The terminal's dictation, as the terminal runs it.
void terminal(benchmark::State& state, bool viaLiveWords) {
    World& w = world();
    if (!w.missing.empty()) {
        state.SkipWithError(w.missing.c_str());
        return;
    }
    Rig rig(w, viaLiveWords, nullptr);
    std::vector<Steps> runs;
    std::string failure;
    for (auto _ : state) {
        const auto steps = rig.dictate(failure);
        if (!steps) {
            state.SkipWithError(failure.c_str());
            return;
        }
        runs.push_back(*steps);
        state.SetIterationTime((steps->total() - steps->transcribe) / 1000);
    }
    report(state, runs, viaLiveWords ? 30 : 150);
}

// The app's dictation, timed, each after a terminal one made the same way and under the same
// load on the machine, which it is compared with.
void app(benchmark::State& state, bool viaLiveWords) {
    World& w = world();
    if (!w.missing.empty()) {
        state.SkipWithError(w.missing.c_str());
        return;
    }
    Rig terminal(w, viaLiveWords, nullptr);
    Rig app(w, viaLiveWords, &appStores());
    std::vector<Steps> runs, terminalRuns;
    std::string failure;
    for (auto _ : state) {
        const auto before = terminal.dictate(failure);
        const auto steps = before ? app.dictate(failure) : std::nullopt;
        if (!steps) {
            state.SkipWithError(failure.c_str());
            return;
        }
        terminalRuns.push_back(*before);
        runs.push_back(*steps);
        state.SetIterationTime((steps->total() - steps->transcribe) / 1000);
    }
    report(state, runs, viaLiveWords ? 30 : 150);
    const Medians ours = mediansOf(runs);
    const Medians theirs = mediansOf(terminalRuns);
    // The speech check is the same program on the same samples in both modes, and a busy
    // machine makes it wander by more than the target; the rest is where the modes differ.
    const auto withoutCheck = [](const std::vector<Steps>& steps) {
        std::vector<double> values;
        for (const Steps& s : steps) {
            values.push_back(s.total() - s.transcribe - s.check);
        }
        return median(values);
    };
    const double difference = ours.withoutServer - theirs.withoutServer;
    const double ownDifference = withoutCheck(runs) - withoutCheck(terminalRuns);
    auto& c = state.counters;
    c["terminal_ms"] = theirs.withoutServer;
    c["vs_terminal_ms"] = difference;
    c["vs_terminal_target_ms"] = 5;
    c["vs_terminal_without_check_ms"] = ownDifference;
    c["cleanup_vs_terminal_ms"] = ours.cleanup - theirs.cleanup;
    c["keep_ms"] = median(app.keeps);
    c["history"] = static_cast<double>(appStores().history->entries().size());

    char label[400];
    std::snprintf(label, sizeof label,
                  "app %.2f ms, terminal %.2f ms without the server: %+.2f ms (target +5), "
                  "%+.2f ms leaving out the speech check; formatting %+.2f ms; keeping it in "
                  "the history %.2f ms after the paste",
                  ours.withoutServer, theirs.withoutServer, difference, ownDifference,
                  ours.cleanup - theirs.cleanup, median(app.keeps));
    state.SetLabel(label);
}

// Every case is timed by its own stamps, one dictation an iteration.
void asDictations(benchmark::internal::Benchmark* benchmark) {
    benchmark->UseManualTime()->Iterations(dictations)->Unit(benchmark::kMillisecond);
}

void withSpeechCheck(benchmark::State& state) {
    terminal(state, false);
}
BENCHMARK(withSpeechCheck)->Apply(asDictations);

void withoutSpeechCheck(benchmark::State& state) {
    terminal(state, true);
}
BENCHMARK(withoutSpeechCheck)->Apply(asDictations);

void appWithSpeechCheck(benchmark::State& state) {
    app(state, false);
}
BENCHMARK(appWithSpeechCheck)->Apply(asDictations);

void appWithoutSpeechCheck(benchmark::State& state) {
    app(state, true);
}
BENCHMARK(appWithoutSpeechCheck)->Apply(asDictations);

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
        status = runBenchmarks(argc, argv);
        // The store before the application, the server before its folder goes.
        madeStores.reset();
        made.reset();
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return status;
}
