#include "speech/EngineMeasurement.h"

#include "Files.h"
#include "WavEncoder.h"
#include "platform/Log.h"
#include "platform/Subprocess.h"
#include "speech/ShapedModels.h"

#include <QStandardPaths>
#include <cmath>
#include <numbers>
#include <optional>
#include <unistd.h>

namespace EngineMeasurement {

namespace {

using Clock = std::chrono::steady_clock;

// A tone, so the voice of the clip is no concern of the timing.
std::vector<float> clip(double seconds) {
    std::vector<float> samples(static_cast<std::size_t>(seconds * 16000));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = 0.3f * static_cast<float>(std::sin(2 * std::numbers::pi * 220.0 *
                                                        static_cast<double>(i) / 16000.0));
    }
    return samples;
}

std::optional<double> measure(const Setup& setup, const SpeechModels::Model& model) {
    const auto shape = ShapedModels::whisperShape(model.shape);
    if (!shape) {
        throw std::runtime_error("no shape named " + std::string(model.shape));
    }
    const auto generated = setup.folder / "shaped.f16.bin";
    const auto file = setup.folder / "shaped.bin";
    ShapedModels::writeWhisper(generated, ShapedModels::passage(12), *shape);
    ::run({"env", "GGML_NO_BACKTRACE=1", setup.quantizeTool.string(), generated.string(),
           file.string(), std::string(model.quantization)},
          std::nullopt, setup.folder, static_cast<double>(setup.limit.count()) * 3);
    std::filesystem::remove(generated);

    WhisperServer::Setup engine = setup.engine;
    engine.probeLimit = setup.limit;
    engine.requestLimit = setup.limit;
    WhisperServer server(file, setup.language, engine);
    const auto began = Clock::now();
    // The first request allocates the engine's buffers: dictations after it are what counts.
    // Two seconds: the sentence in one would sound like a transcript that loops.
    server.attempt(WavEncoder::encode(clip(2)), "");
    const auto samples = clip(clipSeconds);
    const VoiceActivityCheck::SpeechTool check{setup.speechTool, setup.folder / "activity.bin",
                                               static_cast<double>(setup.limit.count())};
    const auto asked = Clock::now();
    if (VoiceActivityCheck::isSilent(samples, check)) {
        throw std::runtime_error("the speech check heard nothing in the clip");
    }
    // As a dictation asks: the final request, with the user's words as its prompt.
    server.transcribe(samples);
    const auto answered = Clock::now();
    if (answered - began > setup.limit) {
        log("measuring " + std::string(model.file) + " took longer than " +
            std::to_string(setup.limit.count()) + " s");
        return std::nullopt;
    }
    return std::chrono::duration<double>(answered - asked).count();
}

} // namespace

std::filesystem::path quantizeToolBeside(const std::string& server) {
    const QString program = server.find('/') == std::string::npos
                                ? QStandardPaths::findExecutable(QString::fromStdString(server))
                                : QString::fromStdString(server);
    std::error_code error;
    // The links on the search path point into the folder the tools share.
    const auto real = std::filesystem::canonical(program.toStdString(), error);
    const auto tool = real.parent_path() / "whisper-quantize";
    return !error && ::access(tool.c_str(), X_OK) == 0 ? tool : std::filesystem::path();
}

std::vector<SpeechModels::Timing> run(const Setup& setup,
                                      std::span<const SpeechModels::Model> models,
                                      const std::atomic<bool>& stop) {
    std::vector<SpeechModels::Timing> timings;
    for (const auto& model : models) {
        timings.push_back({model.file, std::nullopt});
        if (stop) {
            continue;
        }
        try {
            Files::createPrivateFolder(setup.folder);
            if (!std::filesystem::exists(setup.folder / "activity.bin")) {
                ShapedModels::writeVoiceActivity(setup.folder / "activity.bin");
            }
            timings.back().seconds = measure(setup, model);
            if (timings.back().seconds) {
                char seconds[32];
                std::snprintf(seconds, sizeof seconds, "%.2f", *timings.back().seconds);
                log("measured " + std::string(model.file) + ": " + seconds + " s per " +
                    std::to_string(static_cast<int>(clipSeconds)) + " s dictation");
            }
        } catch (const std::exception& error) {
            log("measuring " + std::string(model.file) + " failed: " + error.what());
        }
        std::error_code ignored;
        std::filesystem::remove(setup.folder / "shaped.f16.bin", ignored);
        std::filesystem::remove(setup.folder / "shaped.bin", ignored);
    }
    std::error_code ignored;
    std::filesystem::remove(setup.folder / "activity.bin", ignored);
    return timings;
}

} // namespace EngineMeasurement
