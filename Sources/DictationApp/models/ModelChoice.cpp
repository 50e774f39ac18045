#include "models/ModelChoice.h"

#include "platform/Log.h"

#include <algorithm>
#include <sys/stat.h>
#include <utility>

ModelChoice::ModelChoice(Settings& settings, Parts parts, QObject* parent)
    : QObject(parent), settings_(settings), parts_(std::move(parts)), inbox_(parts_.deliver) {}

ModelChoice::~ModelChoice() {
    inbox_.close();
    stop_->store(true);
    if (measuring_.joinable()) {
        measuring_.join();
    }
}

const SpeechModels::Model& ModelChoice::chosen() const {
    return settings_.file().speechModel(parts_.language);
}

std::vector<ModelChoice::Row> ModelChoice::rows() const {
    const auto timings =
        SpeechModels::decodeTimings(settings_.get(SettingKeys::speechTimings).value_or(""));
    std::vector<Row> rows;
    for (const auto* model : SpeechModels::candidates(parts_.language)) {
        Row row{model, false, false, std::nullopt};
        row.chosen = model == &chosen();
        struct stat info {};
        row.present =
            ::lstat((parts_.folder / model->file).c_str(), &info) == 0 && S_ISREG(info.st_mode);
        for (const auto& timing : timings) {
            if (timing.file == model->file) {
                row.seconds = timing.seconds;
            }
        }
        rows.push_back(row);
    }
    return rows;
}

void ModelChoice::choose(const std::string& file) {
    const SpeechModels::Model* model = SpeechModels::find(file);
    if (!model || !model->fits(parts_.language) || fetching_ == file) {
        return;
    }
    failure_.clear();
    // One fetch at a time: a newer choice replaces the one in flight, whose part file stays.
    downloader_ = std::make_unique<ModelDownloader>(
        parts_.folder, std::vector<ModelDownloader::Model>{parts_.address(*model)},
        parts_.scheduler, parts_.deliver);
    fetching_ = file;
    percent_ = 0;
    downloader_->onProgress = [this](int percent) {
        percent_ = percent;
        emit changed();
    };
    downloader_->onFinish = [this, file](const std::optional<std::string>& error) {
        fetched(file, error);
    };
    emit changed();
    downloader_->start();
}

void ModelChoice::fetched(const std::string& file, const std::optional<std::string>& error) {
    fetching_.reset();
    if (error) {
        log("model download failed: " + *error);
        failure_ = "The download didn't finish. Check your connection and try again.";
        failedFile_ = file;
        emit changed();
        return;
    }
    settings_.set(SettingKeys::speechModel, std::optional<std::string>(file));
    parts_.useModel(parts_.folder / file);
    log("speech model chosen in the settings: " + file);
    emit changed();
}

void ModelChoice::tryAgain() {
    if (!failedFile_.empty()) {
        choose(std::exchange(failedFile_, {}));
    }
}

void ModelChoice::remove(const std::string& file) {
    const SpeechModels::Model* model = SpeechModels::find(file);
    if (!model || model == &chosen() || fetching_ == file) {
        return;
    }
    std::error_code error;
    std::filesystem::remove(parts_.folder / model->file, error);
    if (error) {
        log("could not remove " + file + ": " + error.message());
    }
    emit changed();
}

void ModelChoice::measureAgain(std::function<void(const std::vector<SpeechModels::Timing>&)> then) {
    if (isMeasuring()) {
        return;
    }
    if (measuring_.joinable()) {
        measuring_.join();
    }
    measured_ = false;
    std::vector<SpeechModels::Model> models;
    for (const auto* model : SpeechModels::candidates(parts_.language)) {
        models.push_back(*model);
    }
    log("measuring the speech engine for " + std::to_string(models.size()) + " models");
    measuring_ = std::jthread([this, measure = parts_.measure, models = std::move(models),
                               stop = stop_, post = inbox_.post(), then = std::move(then)] {
        auto timings = measure(models, *stop);
        post([this, timings = std::move(timings), then] {
            measured_ = true;
            settings_.set(SettingKeys::speechTimings,
                          std::optional<std::string>(SpeechModels::encodeTimings(timings)));
            emit changed();
            if (then) {
                then(timings);
            }
        });
    });
    emit changed();
}
