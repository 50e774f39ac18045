// A tune run over five recordings against the real whisper-server with the generated model
// (which answers the first sentence whatever it hears), and how many transcriptions it makes.
#include "AudioTools.h"
#include "PostedWork.h"
#include "TestModels.h"
#include "WavEncoder.h"
#include "platform/Paths.h"
#include "speech/WhisperServer.h"
#include "storage/Stores.h"
#include "voice/VoiceTest.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace {

namespace fs = std::filesystem;

// Counts the run's transcriptions on their way to the server.
class CountingEngine final : public SpeechEngine {
  public:
    explicit CountingEngine(std::shared_ptr<SpeechEngine> inner) : inner_(std::move(inner)) {}
    std::string transcribe(std::span<const float> samples) override {
        return inner_->transcribe(samples);
    }
    std::string attempt(const std::string& wav, const std::string& prompt) override {
        ++attempts;
        return inner_->attempt(wav, prompt);
    }
    std::string prompt() const override { return inner_->prompt(); }

    std::atomic<int> attempts{0};

  private:
    std::shared_ptr<SpeechEngine> inner_;
};

void tuneFiveRecordings(benchmark::State& state) {
    const std::string program = findProgram("whisper-server");
    if (program.empty()) {
        state.SkipWithError("whisper-server is not installed (run ./scripts/setup.sh)");
        return;
    }
    ::setenv("GGML_NO_BACKTRACE", "1", 1);
    std::string pattern = (fs::temp_directory_path() / "parlwick-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        state.SkipWithError("no scratch folder");
        return;
    }
    const fs::path folder = pattern;
    const Paths paths("/opt/parlwick/bin/parlwick", std::nullopt, Paths::Homes::under(folder),
                      folder);
    TestModels::writeWhisper(folder / "ggml-bench.bin", std::string(VoiceTest::sentences[0]));
    auto setup = WhisperServer::Setup::standard(paths);
    setup.program = program;
    auto server = std::make_shared<WhisperServer>(folder / "ggml-bench.bin", "en", setup);
    auto engine = std::make_shared<CountingEngine>(server);
    {
        WordStore words(paths.vocabulary());
        PostedWork posted;
        VoiceTest test(paths.voiceTest(), engine, posted.deliver());
        test.open();
        for (int k = 1; k <= 5; ++k) {
            test.save(tone(2.0 + 0.2 * k));
        }
        server->attempt(WavEncoder::encode(tone(0.5)), ""); // the server's start is not the run's

        int runs = 0;
        engine->attempts = 0;
        for (auto _ : state) {
            test.tune(words);
            if (!posted.runUntil([&] { return !test.isTuning(); }, 600) || !test.result()) {
                state.SkipWithError("the run did not finish with a result");
                break;
            }
            ++runs;
        }
        state.counters["transcriptions"] =
            runs > 0 ? static_cast<double>(engine->attempts) / runs : 0;
    }
    server->shutDown();
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}
BENCHMARK(tuneFiveRecordings)->Unit(benchmark::kSecond)->Iterations(3)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
