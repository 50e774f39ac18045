#include "setup/SetupModel.h"

#include "platform/Log.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <future>
#include <system_error>

SetupModel::SetupModel(RecordKey& key, Settings& settings, Checks checks,
                       std::vector<std::filesystem::path> modelFiles, Scheduler& scheduler,
                       Deliver deliver, QObject* parent)
    : QObject(parent), key_(key), settings_(settings), checks_(std::move(checks)),
      modelFiles_(std::move(modelFiles)), inbox_(std::move(deliver)) {
    const bool present = std::all_of(modelFiles_.begin(), modelFiles_.end(), [](const auto& file) {
        std::error_code ignored;
        return std::filesystem::exists(file, ignored);
    });
    download_.state = present ? Download::State::done : Download::State::waiting;
    // The first answer is needed before any window is chosen, so it is waited for; the
    // worker still does the asking, so the checks only ever run on its thread.
    auto promise = std::make_shared<std::promise<WorkerAnswer>>();
    std::future<WorkerAnswer> answer = promise->get_future();
    worker_.async([promise, checks = checks_] { promise->set_value(ask(checks)); });
    const WorkerAnswer first = answer.get();
    microphone_ = first.microphone;
    missingFieldChecks_ = first.missingFieldChecks;
    missingAccess_ = checks_.missingDesktopAccess();
    if (checks_.recordKeyNote) {
        recordKeyNote_ = checks_.recordKeyNote();
    }
    // Not stored yet: opening the app decides on what it finds now, so a setup never finished
    // shows once even when everything is there; the first poll stores it.
    timer_ = scheduler.start(pollSeconds, true, inbox_.guard([this] { refresh(); }));
    connect(&key_, &RecordKey::changed, this, &SetupModel::changed);
}

SetupModel::~SetupModel() {
    inbox_.close();
    worker_.drain();
}

SetupModel::WorkerAnswer SetupModel::ask(const Checks& checks) {
    // A check that throws must not end the worker; it counts as nothing found.
    WorkerAnswer answer;
    try {
        answer.microphone = checks.microphone();
    } catch (const std::exception& error) {
        log(std::string("microphone check failed: ") + error.what());
    }
    try {
        answer.missingFieldChecks = checks.missingFieldChecks();
    } catch (const std::exception& error) {
        answer.missingFieldChecks = error.what();
    }
    return answer;
}

void SetupModel::refresh() {
    if (std::string missing = checks_.missingDesktopAccess(); missing != missingAccess_) {
        if (missing.empty()) {
            log("desktop access granted");
        } else {
            log("no desktop access: " + missing);
        }
        missingAccess_ = std::move(missing);
        emit changed();
    }
    // A desktop shortcut may be bound, or rebound, at any time.
    if (checks_.recordKeyNote) {
        if (std::string note = checks_.recordKeyNote(); note != recordKeyNote_) {
            recordKeyNote_ = std::move(note);
            emit changed();
        }
    }
    storeIfComplete();
    if (asking_) {
        return;
    }
    asking_ = true;
    worker_.async([this, checks = checks_, post = inbox_.post()] {
        const WorkerAnswer answer = ask(checks);
        post([this, answer] { take(answer); });
    });
}

void SetupModel::take(const WorkerAnswer& answer) {
    asking_ = false;
    if (answer.microphone == microphone_ && answer.missingFieldChecks == missingFieldChecks_) {
        return;
    }
    if (answer.microphone.microphone != microphone_.microphone) {
        log(answer.microphone.microphone == Microphone::granted ? "microphone found"
            : answer.microphone.soundServer                     ? "no microphone input"
                                                                : "no sound server");
    }
    microphone_ = answer.microphone;
    missingFieldChecks_ = answer.missingFieldChecks;
    storeIfComplete();
    emit changed();
}

void SetupModel::storeIfComplete() {
    if (isComplete() && !settings_.get(SettingKeys::hasCompletedSetup)) {
        settings_.set(SettingKeys::hasCompletedSetup, true);
    }
}

void SetupModel::setDownload(Download download) {
    download.percent = std::clamp(download.percent, 0, 100);
    // The choice stays said through the download's states.
    if (download.choice.empty()) {
        download.choice = download_.choice;
    }
    if (download == download_) {
        return;
    }
    download_ = download;
    storeIfComplete();
    emit changed();
}

bool SetupModel::isComplete() const {
    return microphone_.microphone == Microphone::granted && accessibility() &&
           download_.state == Download::State::done;
}

int SetupModel::stepsDone() const {
    return (microphone_.microphone == Microphone::granted ? 1 : 0) + (accessibility() ? 1 : 0) +
           (download_.state == Download::State::done ? 1 : 0);
}

bool SetupModel::isNeeded(const SettingsFile& settings, Microphone microphone, bool accessibility,
                          const std::vector<std::filesystem::path>& modelFiles) {
    const bool modelsPresent =
        std::all_of(modelFiles.begin(), modelFiles.end(), [](const auto& file) {
            std::error_code ignored;
            return std::filesystem::exists(file, ignored);
        });
    return !settings.get(SettingKeys::hasCompletedSetup) || microphone != Microphone::granted ||
           !accessibility || !modelsPresent;
}

bool SetupModel::isNeeded() const {
    return isNeeded(settings_.file(), microphone_.microphone, accessibility(), modelFiles_);
}

bool SetupModel::showsSetup(bool isApp, bool needed, const char* showSetup) {
    return isApp && (needed || (showSetup && std::strcmp(showSetup, "1") == 0));
}
