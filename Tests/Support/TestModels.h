#pragma once

#include "speech/ShapedModels.h"

#include <filesystem>
#include <string>

// Models in the format whisper.cpp loads, so the real speech tools run in tests and benchmarks
// without a real model: the engine's shaped whisper models, and a voice-activity model.
namespace TestModels {

using ShapedModels::describeWhisper;
using ShapedModels::passage;
using ShapedModels::WhisperModel;
using ShapedModels::WhisperShape;
using ShapedModels::whisperShape;
using ShapedModels::WhisperTensor;
using ShapedModels::writeVoiceActivity;
using ShapedModels::writeWhisper;

// Runs whisper.cpp's quantize tool (`type` such as "q5_0" or "q8_0") on `input`, an f16 model,
// writing `output`; then removes `input`. When the tool fails, throws with its exit status and
// leaves no `output`.
void quantizeWhisper(const std::filesystem::path& tool, const std::filesystem::path& input,
                     const std::filesystem::path& output, const std::string& type);

} // namespace TestModels
