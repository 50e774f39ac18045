// Targets: a 100 000-line history (about 30 MB) loads in under 400 ms; adding one dictation
// (one appended line and a rewrite of the totals) takes under 2 ms; a purge that keeps every
// entry touches no file.
#include "HistoryFile.h"
#include "JSONFile.h"
#include "RunBenchmarks.h"
#include "Totals.h"
#include "Uuid.h"
#include "config/Settings.h"
#include "storage/HistoryStore.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

// A save's temporary file ("<name>.<tag>.part") left beside the file.
bool hasTemporaryFile(const fs::path& file) {
    const std::string prefix = file.filename().string() + ".";
    for (const auto& entry : fs::directory_iterator(file.parent_path())) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(prefix) && name.ends_with(".part")) {
            return true;
        }
    }
    return false;
}

constexpr std::size_t historyLines = 100'000;

const Calendar calendar("Europe/Berlin", "de_DE");
const Timestamp now = calendar.date(2025, 3, 10, 12).value();

class NowClock final : public Clock {
  public:
    Timestamp now() const override { return ::now; }
    double uptime() const override { return 0; }
    Calendar calendar() const override { return ::calendar; }
};

Dictation sampleRecord(std::size_t i) {
    static const std::string sentence = "so the plan for tomorrow is to meet at nine, go over the "
                                        "numbers and send the summary to the team";
    Dictation record;
    record.id = Uuid::generate();
    // Spread over the last three weeks, oldest first.
    record.date = now - std::chrono::seconds((historyLines - i) * 18);
    record.seconds = 6.5;
    record.app = i % 3 == 0 ? "Firefox" : "Mail";
    record.outcome = Outcome::typed;
    record.heard = sentence;
    record.text = "So the plan for tomorrow is to meet at nine, go over the numbers and send the "
                  "summary to the team.";
    record.totalMs = 640;
    return record;
}

// One folder with the history, its totals and a settings file, made once for all benchmarks.
struct Fixture {
    fs::path root;
    HistoryStore::Locations files;
    SettingsFile settings{""};
    std::uintmax_t historyBytes = 0;

    Fixture() {
        std::string pattern = (fs::temp_directory_path() / "parlwick-bench-XXXXXX").string();
        root = ::mkdtemp(pattern.data());
        settings = SettingsFile(root / "settings.ini");
        settings.set(SettingKeys::retention, Retention::forever);
        files = {root / "history.jsonl", root / "totals.json", root / "recordings",
                 root / "runs.csv"};
        std::vector<Dictation> records;
        records.reserve(historyLines);
        for (std::size_t i = 0; i < historyLines; ++i) {
            records.push_back(sampleRecord(i));
        }
        HistoryFile(files.history).save(records);
        JSONFile<Totals>(files.totals).save(Totals::from(records, calendar));
        historyBytes = fs::file_size(files.history);
    }
    ~Fixture() {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
};

Fixture& fixture() {
    static Fixture value;
    return value;
}

void LoadHistoryFile(benchmark::State& state) {
    const HistoryFile file(fixture().files.history);
    std::size_t loaded = 0;
    for (auto _ : state) {
        loaded = file.load().size();
        benchmark::DoNotOptimize(loaded);
    }
    if (loaded != historyLines) {
        state.SkipWithError("not every line loaded");
    }
    state.counters["lines"] = static_cast<double>(loaded);
    state.counters["MB"] = static_cast<double>(fixture().historyBytes) / 1e6;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fixture().historyBytes));
}
BENCHMARK(LoadHistoryFile)->Unit(benchmark::kMillisecond)->MinTime(2);

// What start-up pays: the history, the totals file and the first purge.
void OpenHistoryStore(benchmark::State& state) {
    NowClock clock;
    for (auto _ : state) {
        HistoryStore store(clock, fixture().files, fixture().settings);
        benchmark::DoNotOptimize(store.entries().size());
    }
}
BENCHMARK(OpenHistoryStore)->Unit(benchmark::kMillisecond)->MinTime(2);

void AddDictation(benchmark::State& state) {
    NowClock clock;
    // A copy, so the other benchmarks keep their 100 000 lines.
    const fs::path folder = fixture().root / "adding";
    fs::create_directories(folder);
    HistoryStore::Locations files{folder / "history.jsonl", folder / "totals.json",
                                  folder / "recordings", folder / "runs.csv"};
    fs::copy_file(fixture().files.history, files.history, fs::copy_options::overwrite_existing);
    fs::copy_file(fixture().files.totals, files.totals, fs::copy_options::overwrite_existing);
    HistoryStore store(clock, files, fixture().settings);
    const Dictation record = sampleRecord(historyLines);
    for (auto _ : state) {
        store.add(record);
    }
    if (store.problem()) {
        state.SkipWithError(store.problem()->c_str());
    }
    state.counters["entries"] = static_cast<double>(store.entries().size());
}
BENCHMARK(AddDictation)->Unit(benchmark::kMicrosecond)->MinTime(2);

void PurgeKeepingEverything(benchmark::State& state) {
    NowClock clock;
    HistoryStore store(clock, fixture().files, fixture().settings);
    fixture().settings.set(SettingKeys::retention, Retention::month);
    struct stat before {};
    ::stat(fixture().files.history.c_str(), &before);
    for (auto _ : state) {
        store.purge();
    }
    struct stat after {};
    ::stat(fixture().files.history.c_str(), &after);
    const bool touched = after.st_ino != before.st_ino || after.st_size != before.st_size ||
                         after.st_mtim.tv_sec != before.st_mtim.tv_sec ||
                         after.st_mtim.tv_nsec != before.st_mtim.tv_nsec ||
                         hasTemporaryFile(fixture().files.history);
    fixture().settings.set(SettingKeys::retention, Retention::forever);
    state.counters["filesTouched"] = touched ? 1 : 0;
    if (touched || store.entries().size() != historyLines) {
        state.SkipWithError("a purge that keeps everything changed the history");
    }
}
BENCHMARK(PurgeKeepingEverything)->Unit(benchmark::kMillisecond)->MinTime(2);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv); // the store's purge timer needs one
    return runBenchmarks(argc, argv, [] { fixture(); });
}
