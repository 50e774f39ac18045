#include "cleanup/OnDeviceCleaner.h"

#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace {

namespace local {
struct ModelCrashed : std::runtime_error {
    using std::runtime_error::runtime_error;
};
} // namespace local

// A stand-in model: this desktop has none, so these cover the request, time limit and failures
// that a local model will sit behind.
class ScriptedModel : public OnDeviceCleaner::Model {
  public:
    explicit ScriptedModel(
        std::function<std::string(const OnDeviceCleaner::Request&, OnDeviceCleaner::Deadline)>
            answer,
        bool available = true)
        : answer_(std::move(answer)), available_(available) {}

    bool isAvailable() const override { return available_; }
    std::string respond(const OnDeviceCleaner::Request& request,
                        OnDeviceCleaner::Deadline deadline) override {
        ++calls;
        {
            std::lock_guard lock(mutex);
            lastRequest = request;
        }
        return answer_(request, deadline);
    }

    std::atomic<int> calls = 0;
    std::mutex mutex;
    OnDeviceCleaner::Request lastRequest;

  private:
    std::function<std::string(const OnDeviceCleaner::Request&, OnDeviceCleaner::Deadline)> answer_;
    bool available_;
};

TEST(OnDeviceCleaner, WithoutAnAvailableModelThereIsNoEdit) {
    EXPECT_EQ(OnDeviceCleaner().clean("um so I think we should go"), std::nullopt);

    auto unavailable = std::make_shared<ScriptedModel>(
        [](const auto&, OnDeviceCleaner::Deadline) { return std::string("edited"); }, false);
    EXPECT_EQ(OnDeviceCleaner(unavailable).clean("um so I think we should go"), std::nullopt);
    EXPECT_EQ(unavailable->calls, 0) << "an unavailable model is never asked";
}

TEST(OnDeviceCleaner, SendsTheFixedRequestAndReturnsTheEdit) {
    auto model = std::make_shared<ScriptedModel>([](const auto&, OnDeviceCleaner::Deadline) {
        return std::string("So I think we should go.");
    });
    const OnDeviceCleaner cleaner(model);
    EXPECT_EQ(cleaner.clean("um so I think we should go"), "So I think we should go.");

    std::lock_guard lock(model->mutex);
    const auto& request = model->lastRequest;
    EXPECT_EQ(request, OnDeviceCleaner::request("um so I think we should go"));
    EXPECT_EQ(request.prompt, "Dictation: um so I think we should go");
    EXPECT_EQ(request.schemaName, "Edit");
    EXPECT_EQ(request.property, "cleaned");
    EXPECT_TRUE(request.propertyDescription.ends_with("a request stays a request."));
    // Twelve lines joined by line feeds, none after the last.
    EXPECT_EQ(std::count(request.instructions.begin(), request.instructions.end(), '\n'), 11);
    EXPECT_TRUE(request.instructions.starts_with("You are a copy editor for dictated text."));
    EXPECT_TRUE(request.instructions.ends_with(
        "\ncleaned: Hi Sara, new paragraph, the deck is ready. Thanks."));
    EXPECT_NE(request.instructions.find("(\"no wait\", \"I mean\", \"scratch that\")"),
              std::string::npos);
}

TEST(OnDeviceCleaner, WarmUpCleansTheFixedSentence) {
    auto model = std::make_shared<ScriptedModel>(
        [](const auto&, OnDeviceCleaner::Deadline) { return std::string("ignored"); });
    OnDeviceCleaner(model).warmUp();
    std::lock_guard lock(model->mutex);
    EXPECT_EQ(model->lastRequest.prompt, "Dictation: Um, can you send me the the notes today?");
}

TEST(OnDeviceCleaner, AFailingModelIsLoggedByTypeAndGivesNothing) {
    auto model =
        std::make_shared<ScriptedModel>([](const auto&, OnDeviceCleaner::Deadline) -> std::string {
            throw local::ModelCrashed("weights missing: secret dictated words");
        });
    testing::internal::CaptureStderr();
    EXPECT_EQ(OnDeviceCleaner(model).clean("send the report"), std::nullopt);
    const std::string logged = testing::internal::GetCapturedStderr();
    EXPECT_NE(logged.find("on-device cleanup failed: ModelCrashed\n"), std::string::npos) << logged;
    EXPECT_EQ(logged.find("secret"), std::string::npos) << "the message may hold dictated words";
}

TEST(OnDeviceCleaner, TheModelGetsTheDeadlineAndALateAnswerIsDropped) {
    OnDeviceCleaner::Deadline given;
    auto model = std::make_shared<ScriptedModel>([&given](const auto&, auto deadline) {
        given = deadline;
        // Overruns by a little, as a server answering just after its own time-out would.
        std::this_thread::sleep_until(deadline + std::chrono::milliseconds(5));
        return std::string("late answer");
    });
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(OnDeviceCleaner(model, std::chrono::milliseconds(50)).clean("send the report"),
              std::nullopt);
    EXPECT_GE(given, before + std::chrono::milliseconds(50));
    EXPECT_LE(given, std::chrono::steady_clock::now());
    EXPECT_EQ(OnDeviceCleaner::timeLimit, std::chrono::milliseconds(4000));
}

} // namespace
