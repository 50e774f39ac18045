#pragma once

#include "cleanup/OnDeviceCleaner.h"
#include "config/Settings.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// Which addresses a model server may have. Plain http only reaches this computer; a server
// elsewhere needs https, and the user's word that dictations may leave the computer.
namespace ModelEndpoint {

// Whether `address` names this computer (localhost, 127.0.0.0/8, ::1).
bool isOnThisComputer(const std::string& address);

// A short text for the user on why `address` cannot be used, or nothing when it can.
std::optional<std::string> problem(const std::string& address);

} // namespace ModelEndpoint

// Why the model gave no edit. The cleaner logs only the type's name, and no message holds the
// dictation or the model's answer.
struct ModelFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};
struct ModelEndpointRefused : ModelFailure {
    using ModelFailure::ModelFailure;
};
struct ModelServerDown : ModelFailure {
    using ModelFailure::ModelFailure;
};
struct ModelTimedOut : ModelFailure {
    using ModelFailure::ModelFailure;
};
// Any status but 200.
struct ModelServerFailed : ModelFailure {
    using ModelFailure::ModelFailure;
};
struct ModelAnswerTooLarge : ModelFailure {
    using ModelFailure::ModelFailure;
};
struct ModelAnswerStreamed : ModelFailure {
    using ModelFailure::ModelFailure;
};
// Not JSON, or JSON of another shape than the API's.
struct ModelAnswerNotJson : ModelFailure {
    using ModelFailure::ModelFailure;
};
// A chat answer whose text is not the object the request asked for.
struct ModelAnswerNotAnEdit : ModelFailure {
    using ModelFailure::ModelFailure;
};

// A language model behind a server speaking the OpenAI-compatible chat API: llama.cpp's
// llama-server, Ollama (http://localhost:11434/v1), LM Studio and the like.
class ChatModel : public OnDeviceCleaner::Model {
  public:
    struct Setup {
        // The API's base address, such as http://localhost:8080/v1.
        std::string endpoint{};
        std::string model{};
        // Sent as a bearer token; empty for none.
        std::string apiKey{};
    };

    static constexpr std::size_t maxAnswerBytes = 1024 * 1024;
    // Ollama's, the server most users already run.
    static constexpr const char* standardEndpoint = "http://localhost:11434/v1";

    // The server the settings name, on or off: nothing while it is on another computer that
    // the user has not agreed to send dictations to.
    static std::optional<Setup> configured(const SettingsFile& settings);
    // The same, and nothing while tidying with a model is off.
    static std::optional<Setup> chosen(const SettingsFile& settings);
    // A model that follows the settings: at each use, the server and model chosen then;
    // unavailable while tidying is off or the choice is incomplete.
    static std::shared_ptr<OnDeviceCleaner::Model> following(SettingsFile settings);

    explicit ChatModel(Setup setup) : setup_(std::move(setup)) {}

    bool isAvailable() const override;
    std::string respond(const OnDeviceCleaner::Request& request,
                        OnDeviceCleaner::Deadline deadline) override;

    // The models the server offers, for the user to pick from. Throws a ModelFailure.
    static std::vector<std::string> listModels(const Setup& setup, std::chrono::milliseconds limit);

  private:
    Setup setup_;
};
