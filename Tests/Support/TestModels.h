#pragma once

#include <filesystem>
#include <string>

// Tiny model files in the format whisper.cpp loads, so the real speech tools run in tests
// without a real model.
namespace TestModels {

// A whisper model (English-only vocabulary, one small layer each side) whose decoder ignores
// the audio and the prompt and answers `sentence`, word for word, every time. At most 62 words.
void writeWhisper(const std::filesystem::path& file, const std::string& sentence);

// A voice-activity model that reports speech wherever the signal has audible energy and none
// in silence or near-silence.
void writeVoiceActivity(const std::filesystem::path& file);

} // namespace TestModels
