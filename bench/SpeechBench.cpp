// Speed of the speech path: WAV encoding, the speech-engine client's own overhead per
// transcription, and how soon a recording captures its first samples.
#include "AudioTools.h"
#include "TestModels.h"
#include "Uuid.h"
#include "WavEncoder.h"
#include "audio/PulseRecorder.h"
#include "speech/WhisperServer.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <curl/curl.h>
#include <filesystem>
#include <memory>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

fs::path scratchFolder() {
    static const fs::path folder = [] {
        std::string pattern = (fs::temp_directory_path() / "parlwick-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) {
            std::abort();
        }
        return fs::path(pattern);
    }();
    return folder;
}

void encodeWav(benchmark::State& state) {
    const auto samples = tone(static_cast<double>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(WavEncoder::encode(samples));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(samples.size() * sizeof(float)));
}
BENCHMARK(encodeWav)->Arg(300)->Unit(benchmark::kMillisecond);

// One POST with a ready body on a fresh easy handle: what any client must at least do.
long barePost(int port, const std::string& requestPath, const std::string& body,
              const std::string& boundary) {
    CURL* curl = curl_easy_init();
    std::string reply;
    curl_slist* headers = curl_slist_append(
        nullptr, ("Content-Type: multipart/form-data; boundary=" + boundary).c_str());
    headers = curl_slist_append(headers, "Expect:");
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + requestPath + "/inference";
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
    curl_easy_setopt(
        curl, CURLOPT_WRITEFUNCTION,
        +[](char* data, std::size_t size, std::size_t count, void* out) {
            static_cast<std::string*>(out)->append(data, size * count);
            return size * count;
        });
    long status = 0;
    if (curl_easy_perform(curl) == CURLE_OK) {
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return status;
}

double threadMilliseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// The same recording through WhisperServer::transcribe and as a bare request, interleaved so
// both see the same server load; the difference is the client's own cost. On a busy machine
// the wall-clock difference is noisy (the server's inference time varies); the CPU time spent
// on the calling thread is not.
void transcriptionOverhead(benchmark::State& state) {
    const std::string program = findProgram("whisper-server");
    if (program.empty()) {
        state.SkipWithError("whisper-server is not installed (run ./scripts/setup.sh)");
        return;
    }
    ::setenv("GGML_NO_BACKTRACE", "1", 1);
    ::setenv("XDG_DATA_HOME", scratchFolder().c_str(), 1);
    const fs::path model = scratchFolder() / "ggml-bench.bin";
    TestModels::writeWhisper(model, "Benchmarks measure the client.");
    auto setup = WhisperServer::Setup::standard(
        Paths(scratchFolder() / "bin/parlwick", std::nullopt, Paths::Homes::under(scratchFolder()),
              scratchFolder()));
    setup.program = program;
    WhisperServer server(model, "en", setup);

    const auto samples = tone(static_cast<double>(state.range(0)));
    server.transcribe(samples); // starts the server
    const std::string boundary = Uuid::generate();
    const std::string body =
        WhisperServer::multipartBody(boundary, WavEncoder::encode(samples), "en", "");

    std::vector<double> differences;
    double client = 0, bare = 0, clientCPU = 0, bareCPU = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        double cpu = threadMilliseconds();
        if (barePost(server.port(), server.requestPath(), body, boundary) != 200) {
            state.SkipWithError("the bare request failed");
            return;
        }
        const double bareWall = millisecondsSince(start);
        bareCPU += threadMilliseconds() - cpu;
        start = Clock::now();
        cpu = threadMilliseconds();
        benchmark::DoNotOptimize(server.transcribe(samples));
        const double clientWall = millisecondsSince(start);
        clientCPU += threadMilliseconds() - cpu;
        bare += bareWall;
        client += clientWall;
        differences.push_back(clientWall - bareWall);
    }
    std::sort(differences.begin(), differences.end());
    const auto n = static_cast<double>(state.iterations());
    state.counters["client_ms"] = client / n;
    state.counters["bare_ms"] = bare / n;
    state.counters["overhead_ms"] = (client - bare) / n;
    state.counters["overhead_median_ms"] = differences[differences.size() / 2];
    state.counters["overhead_cpu_ms"] = (clientCPU - bareCPU) / n;
}
BENCHMARK(transcriptionOverhead)->Arg(10)->Arg(60)->Unit(benchmark::kMillisecond)->Iterations(40);

// From start() to the stream running, to the first samples arriving, and the estimated moment
// the first captured sample was taken (arrival less the samples' own duration); and how long
// stop() holds its caller, the main thread.
void recorderStart(benchmark::State& state) {
    const std::string missing = missingPrograms({"pulseaudio", "pactl", "pacat", "parec"});
    if (!missing.empty()) {
        state.SkipWithError(missing.c_str());
        return;
    }
    static std::unique_ptr<PulseServer> server;
    if (!server) {
        server = std::make_unique<PulseServer>(scratchFolder() / "pulse");
    }
    PulseRecorder recorder("parlwick-bench", std::make_shared<SystemClock>(),
                           [](std::function<void()>) {});
    double started = 0, arrived = 0, captured = 0, stopped = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        recorder.start();
        started += millisecondsSince(start);
        std::size_t count = 0;
        while ((count = recorder.snapshot().size()) == 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        const double arrival = millisecondsSince(start);
        arrived += arrival;
        captured += arrival - 1000.0 * static_cast<double>(count) / 16000.0;
        const auto stop = Clock::now();
        recorder.stop();
        stopped += millisecondsSince(stop);
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["start_ms"] = started / n;
    state.counters["first_block_ms"] = arrived / n;
    state.counters["first_sample_captured_ms"] = captured / n;
    state.counters["stop_ms"] = stopped / n;
}
BENCHMARK(recorderStart)->Unit(benchmark::kMillisecond)->Iterations(20);

} // namespace

BENCHMARK_MAIN();
