#include "models/ModelDownloader.h"

#include "models/ModelAddress.h"
#include "platform/AppError.h"
#include "platform/Log.h"

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

std::string hostOf(std::string_view base) {
    std::string host(base);
    while (host.ends_with('/')) {
        host.pop_back();
    }
    return host;
}

} // namespace

ModelDownloader::Model ModelDownloader::speechModel(std::string_view base,
                                                    const SpeechModels::Model& speech) {
    return {std::string(speech.file),
            hostOf(base) + "/" + std::string(SpeechModels::folder) + std::string(speech.file),
            std::string(speech.sha256), speech.bytes};
}

std::vector<ModelDownloader::Model> ModelDownloader::required(std::string_view base,
                                                              const SpeechModels::Model& speech) {
    return {
        {"ggml-silero-v5.1.2.bin",
         hostOf(base) + "/ggml-org/whisper-vad/resolve/main/ggml-silero-v5.1.2.bin",
         "29940d98d42b91fbd05ce489f3ecf7c72f0a42f027e4875919a28fb4c04ea2cf",
         // About 885 KB.
         std::int64_t(8) << 20},
        speechModel(base, speech),
    };
}

ModelDownloader::ModelDownloader(fs::path folder, std::vector<Model> models, Scheduler& scheduler,
                                 Deliver deliver, Options options)
    : folder_(std::move(folder)), models_(std::move(models)), scheduler_(scheduler),
      inbox_(std::move(deliver)), options_(options) {}

ModelDownloader::~ModelDownloader() {
    inbox_.close();
    stop_->store(true);
    // The transfer notices the stop within a second.
    if (worker_.joinable()) {
        worker_.join();
    }
}

std::vector<ModelDownloader::Model> ModelDownloader::missing() const {
    std::vector<Model> result;
    for (const Model& model : models_) {
        struct stat info {};
        if (::lstat((folder_ / model.name).c_str(), &info) != 0) {
            result.push_back(model);
        }
    }
    return result;
}

void ModelDownloader::start() {
    queue_ = missing();
    if (inFlight_) {
        return; // the transfer's end moves on to the new list
    }
    retry_.reset();
    next();
}

void ModelDownloader::next() {
    if (queue_.empty()) {
        finish(std::nullopt);
        return;
    }
    const Model& head = queue_.front();
    if (const auto problem = ModelAddress::problem(head.url)) {
        log("model address refused: " + *problem);
        finish(AppError::process("the models address is not one we may fetch from").description());
        return;
    }
    onFetch(head);
    if (worker_.joinable()) {
        worker_.join(); // the previous transfer has reported, so it is ending or gone
    }
    inFlight_ = true;
    ModelFetch::Job job{head.name, head.url, head.sha256, folder_, options_.limits};
    job.limits.maximumBytes = head.maximumBytes;
    worker_ = std::jthread([this, job = std::move(job), stop = stop_, post = inbox_.post()] {
        const auto progress = [&](int percent) { post([this, percent] { onProgress(percent); }); };
        ModelFetch::Result result = ModelFetch::run(job, progress, *stop);
        post([this, name = job.name, result = std::move(result)] { fetched(name, result); });
    });
}

void ModelDownloader::fetched(const std::string& name, const ModelFetch::Result& result) {
    inFlight_ = false;
    using Kind = ModelFetch::Result::Kind;
    switch (result.kind) {
    case Kind::placed:
        lastInterruption_.reset();
        // start() may have renewed the list while the file was on its way.
        std::erase_if(queue_, [&](const Model& model) { return model.name == name; });
        next();
        return;
    case Kind::interrupted:
        // One line per cause, not one every five seconds for as long as the network is away.
        if (result.detail != lastInterruption_) {
            log("download interrupted, retrying: " + result.detail);
            lastInterruption_ = result.detail;
        }
        onRetry(result.detail);
        retry_ = scheduler_.start(options_.retryDelay, false, [this] {
            retry_.reset();
            next();
        });
        return;
    case Kind::failed:
        lastInterruption_.reset();
        damaged_ = result.damaged;
        if (!result.detail.empty()) {
            log("model download refused: " + result.detail);
        }
        finish(result.error);
        return;
    case Kind::stopped:
        return;
    }
}

void ModelDownloader::finish(std::optional<std::string> error) {
    onFinish(error);
}
