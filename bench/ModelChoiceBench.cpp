// The first launch's measurement as it runs for a user: every catalog model's shape generated,
// quantised and timed on a 5 s clip through the real whisper-server, and the model it chooses.
// Its timings are what the user waits for with a warm engine; the recognition benchmark gives
// key release to text for the same shapes.
#include "SpeechModels.h"
#include "TestSupport.h"
#include "speech/EngineMeasurement.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <string>

namespace {

void firstLaunchMeasurement(benchmark::State& state) {
    const auto quantize = EngineMeasurement::quantizeToolBeside("whisper-server");
    if (quantize.empty()) {
        state.SkipWithError("whisper-server and whisper-quantize are not installed");
        return;
    }
    TempDir dir;
    EngineMeasurement::Setup setup;
    setup.engine = WhisperServer::Setup::standard(Paths(
        "/opt/parlwick/bin/parlwick", std::nullopt, Paths::Homes::under(dir.path()), dir.path()));
    setup.engine.program = "whisper-server";
    setup.quantizeTool = quantize;
    setup.folder = dir / "measure";
    const std::string language = state.range(0) == 0 ? "en" : "de";
    setup.language = language;
    const auto candidates = SpeechModels::candidates(language);
    std::vector<SpeechModels::Model> models;
    for (const auto* model : candidates) {
        models.push_back(*model);
    }
    std::atomic<bool> stop{false};
    for (auto _ : state) {
        const auto began = std::chrono::steady_clock::now();
        const auto timings = EngineMeasurement::run(setup, models, stop);
        const double whole =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        for (const auto& timing : timings) {
            state.counters[std::string(timing.file)] = timing.seconds.value_or(-1);
        }
        state.counters["measurement_s"] = whole;
        const auto& chosen = SpeechModels::choose(timings, language);
        state.SetLabel("chosen for " + language + ": " + std::string(chosen.file));
    }
}
BENCHMARK(firstLaunchMeasurement)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
