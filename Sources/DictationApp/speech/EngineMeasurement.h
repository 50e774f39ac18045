#pragma once

#include "SpeechModels.h"
#include "speech/VoiceActivityCheck.h"
#include "speech/WhisperServer.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

// Times what a 5 s dictation keeps the user waiting for, on this computer, for each candidate
// model without the model: the speech check on the clip (with a generated voice-activity model)
// and the engine's answer with a generated model of the candidate's shape, quantised as the
// real one is, after one warm-up request, on the device the engine uses. Blocking: it runs on
// a worker and gets everything it needs as values.
namespace EngineMeasurement {

// The clip every model is timed on.
inline constexpr double clipSeconds = 5;

struct Setup {
    // The engine as dictation runs it; its time limits are the measurement's.
    WhisperServer::Setup engine;
    // The voice-activity tool the speech check runs (its model is generated here).
    std::string speechTool = "whisper-vad-speech-segments";
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
// (the log says why). A set `stop` leaves the rest unmeasured.
std::vector<SpeechModels::Timing>
run(const Setup& setup, std::span<const SpeechModels::Model> models, const std::atomic<bool>& stop);

} // namespace EngineMeasurement
