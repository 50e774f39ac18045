// Targets, with 100 000 dictations in the history: opening the History screen, typing a search
// and changing the app filter each answer within 100 ms, drawn; the process stays under 200 MB
// resident with that history loaded and the screen open.
#include "FixedClock.h"
#include "Resident.h"
#include "RunBenchmarks.h"
#include "SampleHistory.h"
#include "config/Settings.h"
#include "platform/Paths.h"
#include "platform/Scheduler.h"
#include "storage/HistoryStore.h"
#include "storage/Stores.h"
#include "ui/window/AppState.h"
#include "ui/window/HistoryModel.h"
#include "ui/window/HistoryScreen.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t historyLines = 100'000;

const Calendar calendar("Europe/Berlin", "en_US");
const Timestamp now = calendar.date(2026, 12, 9, 12).value();

// The stores over a 100 000-line history, and the shared state the screens read.
struct World {
    fs::path root;
    Paths paths;
    std::shared_ptr<FixedClock> clock = std::make_shared<FixedClock>(now, calendar);
    MainLoopScheduler scheduler;
    std::unique_ptr<Settings> settings;
    std::unique_ptr<HistoryStore> history;
    std::unique_ptr<WordStore> words;
    std::unique_ptr<SnippetStore> snippets;
    std::unique_ptr<NoteStore> notes;
    std::unique_ptr<AppParts> parts;

    static fs::path makeRoot() {
        std::string pattern = (fs::temp_directory_path() / "parlwick-bench-XXXXXX").string();
        return ::mkdtemp(pattern.data());
    }

    World()
        : root(makeRoot()), paths("/opt/parlwick/bin/parlwick", std::nullopt,
                                  Paths::Homes::under(root), root / "work") {
        settings = std::make_unique<Settings>(paths.settings());
        settings->set(SettingKeys::retention, Retention::forever);
        SampleHistory::write(paths.history(), paths.totals(), historyLines, now, calendar);
        history = std::make_unique<HistoryStore>(*clock, HistoryStore::Locations::of(paths),
                                                 SettingsFile(paths.settings()));
        words = std::make_unique<WordStore>(paths.vocabulary());
        snippets = std::make_unique<SnippetStore>(paths.snippets());
        notes = std::make_unique<NoteStore>(paths.notes(), *clock);
        parts = std::make_unique<AppParts>(
            AppParts{*history, *words, *snippets, *notes, *settings, paths, clock, scheduler});
    }
    ~World() {
        parts.reset();
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
};

World& world() {
    static World value;
    return value;
}

// Lets the screen lay out and draw what changed, as the event loop does before the user sees it.
void draw(QWidget& screen) {
    QApplication::processEvents();
    screen.repaint();
}

// The screen at the main window's size, on screen and drawn once.
void showAndDraw(QWidget& screen) {
    screen.resize(1040, 740);
    screen.show();
    draw(screen);
}

void OpenHistory(benchmark::State& state) {
    World& w = world();
    std::size_t rows = 0;
    long resident = 0;
    for (auto _ : state) {
        HistoryScreen screen(*w.parts);
        showAndDraw(screen);
        rows = screen.model().dictationCount();
        state.PauseTiming();
        resident = std::max(resident, residentKilobytes());
        state.ResumeTiming();
    }
    if (rows != historyLines) {
        state.SkipWithError("not every dictation listed");
    }
    state.counters["dictations"] = static_cast<double>(rows);
    state.counters["residentMB"] = static_cast<double>(resident) / 1024.0;
}
BENCHMARK(OpenHistory)->Unit(benchmark::kMillisecond)->MinTime(2);

// One keystroke: the search changes by a letter and the list is drawn again. `query` is typed
// letter by letter, round and round.
void TypeSearch(benchmark::State& state, std::string query) {
    World& w = world();
    HistoryScreen screen(*w.parts);
    showAndDraw(screen);
    auto* search = screen.findChild<QLineEdit*>();
    const QString typed = QString::fromStdString(query);
    qsizetype length = 0;
    std::size_t shown = 0;
    for (auto _ : state) {
        length = length % typed.size() + 1;
        search->setText(typed.left(length));
        draw(screen);
        if (length == typed.size()) {
            shown = screen.model().dictationCount();
        }
    }
    search->clear();
    state.counters["shownAtFullQuery"] = static_cast<double>(shown);
}
BENCHMARK_CAPTURE(TypeSearch, commonWords, std::string("the meeting"))
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2);
BENCHMARK_CAPTURE(TypeSearch, nothingMatches, std::string("quarterly"))
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2);
BENCHMARK_CAPTURE(TypeSearch, accented, std::string("Köln"))
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2);

// Choosing one app, then all of them again.
void ChangeAppFilter(benchmark::State& state) {
    World& w = world();
    HistoryScreen screen(*w.parts);
    showAndDraw(screen);
    auto* apps = screen.findChild<QComboBox*>();
    const int slack = apps->findText(QStringLiteral("Slack"));
    if (slack < 0) {
        state.SkipWithError("no Slack in the app filter");
        return;
    }
    bool one = false;
    for (auto _ : state) {
        one = !one;
        apps->setCurrentIndex(one ? slack : 0);
        emit apps->activated(apps->currentIndex());
        draw(screen);
    }
}
BENCHMARK(ChangeAppFilter)->Unit(benchmark::kMillisecond)->MinTime(2);

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    return runBenchmarks(argc, argv, [] { world(); });
}
