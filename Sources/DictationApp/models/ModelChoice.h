#pragma once

#include "SpeechModels.h"
#include "config/Settings.h"
#include "models/ModelDownloader.h"

#include <QObject>
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// The speech model as the Voice settings offer it: the models that fit the language, each with
// its size, its time measured on this computer and whether it is here; choosing one fetches it
// with the downloader while the current one keeps working, and the engine takes it up once it is
// in place. Main thread only; measuring runs on a worker of its own, with values.
class ModelChoice : public QObject {
    Q_OBJECT
  public:
    using Measure = std::function<std::vector<SpeechModels::Timing>(
        const std::vector<SpeechModels::Model>&, const std::atomic<bool>& stop)>;

    struct Parts {
        std::filesystem::path folder;
        std::string language;
        // Where a catalog model is fetched from.
        std::function<ModelDownloader::Model(const SpeechModels::Model&)> address;
        std::function<void(const std::filesystem::path&)> useModel;
        Measure measure;
        Scheduler& scheduler;
        Deliver deliver = mainThread();
    };

    struct Row {
        const SpeechModels::Model* model;
        bool chosen = false;
        bool present = false;
        std::optional<double> seconds;
    };

    ModelChoice(Settings& settings, Parts parts, QObject* parent = nullptr);
    ~ModelChoice() override;

    // The models for the language, most accurate first.
    std::vector<Row> rows() const;
    const SpeechModels::Model& chosen() const;

    // Fetches `file` unless it is here, then makes it the model dictation uses.
    void choose(const std::string& file);
    // The file being fetched, with its percent; none while nothing is.
    const std::optional<std::string>& fetching() const { return fetching_; }
    int percent() const { return percent_; }
    // Why the last fetch stopped; empty when it did not.
    const std::string& failure() const { return failure_; }
    // Fetches the model whose fetch failed again.
    void tryAgain();

    // Frees the space of a model not in use.
    void remove(const std::string& file);

    // Times the models again; the times shown follow, the choice stays. `then` gets the timings
    // on the main thread once they are stored.
    void measureAgain(std::function<void(const std::vector<SpeechModels::Timing>&)> then = {});
    bool isMeasuring() const { return measuring_.joinable() && !measured_; }

  signals:
    void changed();

  private:
    void fetched(const std::string& file, const std::optional<std::string>& error);

    Settings& settings_;
    Parts parts_;
    std::unique_ptr<ModelDownloader> downloader_;
    std::optional<std::string> fetching_;
    int percent_ = 0;
    std::string failure_;
    std::string failedFile_;
    bool measured_ = false;
    std::shared_ptr<std::atomic<bool>> stop_ = std::make_shared<std::atomic<bool>>(false);
    Inbox inbox_;
    std::jthread measuring_;
};
