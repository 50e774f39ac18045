#pragma once

#include "SpeechModels.h"
#include "speech/WhisperServer.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

// Times the speech engine on this computer for each candidate model, without the model: a
// generated model of its shape, quantised as the real one is, gets one warm-up request and
// then one 5 s dictation, timed, on the device the engine uses. Blocking: it runs on a worker
// and gets everything it needs as values.
namespace EngineMeasurement {

// The clip every model is timed on.
inline constexpr double clipSeconds = 5;

struct Setup {
    // The engine as dictation runs it; its time limits are the measurement's.
    WhisperServer::Setup engine;
    std::filesystem::path quantizeTool;
    // Where each generated model is written and removed again (made private when missing).
    std::filesystem::path folder;
    std::string language = "en";
    // Past this, from the server's start to the timed answer, a model goes unmeasured.
    std::chrono::seconds limit{20};
};

// The quantize tool our build of the engine installs beside `server` (a path, or a name found
// on the search path); empty when there is none.
std::filesystem::path quantizeToolBeside(const std::string& server);

// A timing per model, in their order; none where the measurement failed or ran past the limit
// (the log says why). `measuring` hears of each model before its turn; a set `stop` leaves the
// rest unmeasured.
std::vector<SpeechModels::Timing>
run(const Setup& setup, std::span<const SpeechModels::Model> models,
    const std::function<void(const SpeechModels::Model&)>& measuring,
    const std::atomic<bool>& stop);

} // namespace EngineMeasurement
