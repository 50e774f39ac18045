#pragma once

#include "SpeechModels.h"
#include "models/ModelFetch.h"
#include "platform/MainThread.h"
#include "platform/Scheduler.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct DownloadOptions {
    Transfer::Limits limits;
    double retryDelay = 5; // seconds between an interruption and the next try
};

// Fetches the model files dictation needs, one at a time, into the models folder. Interruptions
// never end a run: each is logged and retried five seconds later from the bytes already on
// disk, without limit. A run ends when every file is in place, or when one fails its check or
// cannot be stored. Lives on the main thread; the transfer runs on a worker thread of its own
// and every callback arrives on the main thread.
class ModelDownloader {
  public:
    struct Model {
        std::string name;   // the file name in the models folder and the address's last part
        std::string url;    // absolute address of the file
        std::string sha256; // of the whole file, 64 lower-case hexadecimal digits
        // The most the file may hold: a transfer past it is cut off (a hostile mirror could
        // otherwise fill the disk). 0: no bound.
        std::int64_t maximumBytes = 0;
        bool operator==(const Model&) const = default;
    };

    // The files dictation needs, the voice-activity model first, then `speech`, on the host at
    // `base`.
    static std::vector<Model>
    required(std::string_view base, const SpeechModels::Model& speech = SpeechModels::standard());
    // One speech model of the catalog on the host at `base`, bounded by its size.
    static Model speechModel(std::string_view base, const SpeechModels::Model& speech);

    using Options = DownloadOptions;

    // Fetches `models` (the app: `required`) into `folder`. `scheduler` runs the retries;
    // `deliver` hands the worker's reports to the main thread.
    ModelDownloader(std::filesystem::path folder, std::vector<Model> models, Scheduler& scheduler,
                    Deliver deliver = mainThread(), Options options = {});
    // Stops a transfer in flight and waits for its thread; its .part file stays for next time.
    ~ModelDownloader();
    ModelDownloader(const ModelDownloader&) = delete;
    ModelDownloader& operator=(const ModelDownloader&) = delete;

    // The required files not yet in the models folder, in order.
    std::vector<Model> missing() const;
    // Another list of required files, for the next run.
    void setModels(std::vector<Model> models) { models_ = std::move(models); }

    // Begins a run over what is missing now; again after a failure, it fetches only what is
    // still missing. While a transfer is in flight it only renews the list.
    void start();

    // Percent (0...100) of the file being fetched, when its size is known.
    std::function<void(int)> onProgress = [](int) {};
    // Once a run: nothing when every file is in place, else the description of what stopped it.
    std::function<void(const std::optional<std::string>&)> onFinish =
        [](const std::optional<std::string>&) {};
    // Each time a file's transfer begins (again after each retry).
    std::function<void(const Model&)> onFetch = [](const Model&) {};
    // After each interruption, before the wait; the reason is already in the log.
    std::function<void(const std::string&)> onRetry = [](const std::string&) {};
    // Whether the last failure was a file that came whole but damaged (and was thrown away).
    bool foundDamage() const { return damaged_; }
    double retryDelay() const { return options_.retryDelay; }

  private:
    void next();
    void fetched(const std::string& name, const ModelFetch::Result& result);
    void finish(std::optional<std::string> error);

    std::filesystem::path folder_;
    std::vector<Model> models_;
    Scheduler& scheduler_;
    Inbox inbox_;
    Options options_;
    std::vector<Model> queue_;
    std::unique_ptr<Scheduler::Timer> retry_;
    std::optional<std::string> lastInterruption_;
    bool inFlight_ = false;
    bool damaged_ = false;
    std::shared_ptr<std::atomic<bool>> stop_ = std::make_shared<std::atomic<bool>>(false);
    std::jthread worker_;
};
