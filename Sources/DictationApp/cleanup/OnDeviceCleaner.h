#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// Asks a local language model to copy-edit a raw transcript. The edit is only a candidate: the
// correction guard decides whether it kept the words. This desktop has no system language model
// yet, so without a model `clean` returns nothing at once and the rule-based cleanup runs alone.
class OnDeviceCleaner {
  public:
    // From the start of the request; a slower answer is dropped.
    static constexpr std::chrono::milliseconds timeLimit{4000};

    // Cleaned once at start-up so the model is loaded before the first dictation.
    static constexpr std::string_view warmUpSentence = "Um, can you send me the the notes today?";

    // The fixed request: instructions, prompt, and an answer object "Edit" with one string
    // property "cleaned".
    struct Request {
        std::string instructions;
        std::string prompt;
        std::string schemaName;
        std::string property;
        std::string propertyDescription;

        bool operator==(const Request&) const = default;
    };
    static Request request(std::string_view transcript);

    using Deadline = std::chrono::steady_clock::time_point;

    // A local model that answers the request with greedy sampling.
    class Model {
      public:
        virtual ~Model() = default;
        virtual bool isAvailable() const = 0;
        // The answer's "cleaned" property. Runs on the caller's thread and gives up by itself
        // at `deadline`, so no thread is left behind. Throws on failure.
        virtual std::string respond(const Request& request, Deadline deadline) = 0;
    };

    explicit OnDeviceCleaner(std::shared_ptr<Model> model = nullptr,
                             std::chrono::milliseconds limit = timeLimit);

    // The model's edit, or nothing when there is no model, it fails or it runs out of time.
    // Blocks the caller for at most the time limit.
    std::optional<std::string> clean(std::string_view text) const;

    void warmUp() const { (void)clean(warmUpSentence); }

  private:
    std::shared_ptr<Model> model_;
    std::chrono::milliseconds limit_;
};
