#pragma once

#include "BackgroundProcess.h"
#include "ProcessRunner.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

// The full path of a program on PATH (or in /usr/local/bin), or empty.
std::string findProgram(const std::string& name);

// "name1, name2 not installed (run ./scripts/setup.sh --tests)" for the missing ones, or empty.
std::string missingPrograms(const std::vector<std::string>& names);

// Mono 16-bit PCM WAV samples as floats (value / 32768).
std::vector<float> readWav(const std::filesystem::path& file);

// A steady tone loud enough for the loudness check, `seconds` long at 16 kHz.
std::vector<float> tone(double seconds);

// `text` spoken by espeak-ng, as a 16 kHz mono 16-bit WAV file made with sox.
void writeSpeech(const std::filesystem::path& file, const std::string& text);

// A private PulseAudio server with a virtual microphone "vmic" fed from the sink "vmic_sink",
// kept busy by a feeder playing silence, so the source delivers samples at once. Clients of
// this process reach it through PULSE_SERVER, which the constructor sets.
class PulseServer {
  public:
    // Starts everything and waits until the microphone delivers samples; throws with the
    // reason when it cannot.
    explicit PulseServer(const std::filesystem::path& folder);
    ~PulseServer();

    std::string address() const { return "unix:" + (runtime_ / "native").string(); }
    ProcessResult pactl(const std::vector<std::string>& arguments) const;
    // Plays a WAV file into the virtual microphone; returns at once.
    void play(const std::filesystem::path& wav);
    // Waits for the last play to finish.
    void waitForPlay();
    // Ends the server (as a crash would).
    void kill();

  private:
    std::vector<std::pair<std::string, std::string>> environment() const;

    std::filesystem::path folder_, runtime_;
    std::unique_ptr<BackgroundProcess> daemon_, feeder_, player_;
};
