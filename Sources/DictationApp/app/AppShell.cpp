#include "app/AppShell.h"

#include "WavEncoder.h"
#include "WritingContext.h"
#include "housekeeping/CrashReports.h"
#include "housekeeping/Uninstaller.h"
#include "models/ModelAddress.h"
#include "platform/Log.h"
#include "speech/EngineMeasurement.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <utility>

namespace {

std::vector<std::filesystem::path> filesOf(const std::filesystem::path& folder,
                                           const std::vector<ModelDownloader::Model>& models) {
    std::vector<std::filesystem::path> files;
    for (const auto& model : models) {
        files.push_back(folder / model.name);
    }
    return files;
}

// The tray's line for a model the user chose in the settings: its download, or its failure.
QString switchStatus(const ModelChoice& choice, const std::string& appName) {
    if (choice.fetching()) {
        return QString("Downloading speech model: %1%").arg(choice.percent());
    }
    if (!choice.failure().empty()) {
        return QString::fromStdString(AppShell::downloadFailedText(appName));
    }
    return {};
}

} // namespace

AppShell::AppShell(Parts parts)
    : paths_(std::move(parts.paths)), controller_(parts.controller), scheduler_(parts.scheduler),
      settings_(parts.settings),
      history_(*parts.clock, HistoryStore::Locations::of(paths_), SettingsFile(paths_.settings())),
      words_(paths_.vocabulary()), snippets_(paths_.snippets()),
      notes_(paths_.notes(), *parts.clock), state_(parts.key, settings_, parts.controller.state()),
      voiceTest_(paths_.voiceTest(), parts.engine, parts.deliver),
      updates_(Updates::forBundle(paths_, settings_, parts.scheduler, parts.deliver)),
      language_(std::move(parts.language)), useModel_(std::move(parts.useModel)),
      modelChoice_(std::make_unique<ModelChoice>(
          settings_,
          ModelChoice::Parts{paths_.models(), language_,
                             [base = ModelAddress::base(paths_)](const SpeechModels::Model& model) {
                                 return ModelDownloader::speechModel(base, model);
                             },
                             useModel_,
                             parts.measure ? std::move(parts.measure) : engineMeasurement(),
                             parts.scheduler, parts.deliver})),
      localModel_(settings_, parts.deliver),
      windowParts_{history_,
                   words_,
                   snippets_,
                   notes_,
                   settings_,
                   paths_,
                   parts.clock,
                   parts.scheduler,
                   &voiceTest_,
                   modelChoice_.get(),
                   updates_.get(),
                   &localModel_,
                   [this] {
                       history_.deleteAll();
                       controller_.forgetRetry();
                   },
                   [paths = paths_] { Uninstaller::runAndQuit(paths); },
                   [this] { onQuit(); },
                   [engine = parts.engine] { return engine->deviceDescription(); }},
      window_(state_, windowParts_, paths_.bundle() ? paths_.bundle()->version.value_or("") : ""),
      setup_(parts.key, settings_, std::move(parts.checks), filesOf(paths_.models(), parts.models),
             parts.scheduler, parts.deliver),
      setupWindow_(setup_, settings_, window_.appearance(),
                   QString::fromStdString(paths_.appName())),
      menu_(state_, parts.controller.state(), paths_.appName()),
      feed_(state_, parts.controller.state()),
      downloader_(paths_.models(), std::move(parts.models), parts.scheduler, parts.deliver) {
    // A model chosen in the settings is the one dictation needs from then on: the one before
    // may be removed without bringing setup back.
    // The setup's checks poll the microphone every second: the windows name the one in use.
    const auto showMicrophone = [this] {
        state_.setMicrophoneName(setup_.microphone() == SetupModel::Microphone::granted
                                     ? QString::fromStdString(setup_.microphoneName())
                                     : QString());
    };
    QObject::connect(&setup_, &SetupModel::changed, &state_, showMicrophone);
    showMicrophone();
    QObject::connect(modelChoice_.get(), &ModelChoice::changed, [this] {
        needModel(modelChoice_->chosen());
        feed_.showWhile(switchStatus(*modelChoice_, paths_.appName()));
    });
    wire();
}

AppShell::~AppShell() {
    // The controller outlives the shell: its hooks must not reach what goes now.
    controller_.onResult = [](const Dictation&, const Controller::Samples&) {};
    controller_.formatting = [](AppGroup) { return std::optional<Controller::Formatting>(); };
    controller_.captureTarget = [] { return std::optional<Controller::SampleReceiver>(); };
}

Controller::Formatting AppShell::formatting(const SettingsFile& settings,
                                            const SnippetStore& snippets, AppGroup group) {
    return {settings.get(SettingKeys::style(group)), snippets.copy()};
}

void AppShell::keep(HistoryStore& history, const Dictation& dictation,
                    const Controller::Samples& samples) {
    // Encoding a long recording costs time; only a kept one is worth it.
    history.add(dictation,
                history.keepsRecordingOf(dictation) ? WavEncoder::encode(samples) : std::string());
}

void AppShell::wire() {
    history_.purge();
    controller_.onResult = [this](const Dictation& dictation, const Controller::Samples& samples) {
        keep(history_, dictation, samples);
    };
    controller_.formatting = [this](AppGroup group) {
        return std::optional(formatting(settings_.file(), snippets_, group));
    };
    controller_.captureTarget = MainWindow::captureHook(window_, voiceTest_);

    menu_.onOpen = [this] { showWindow(); };
    menu_.onRetry = [this] { controller_.retryLast(); };
    menu_.canRetry = [this] { return controller_.canRetry(); };
    if (updates_) {
        menu_.onCheckForUpdates = [this] {
            trayAskedForUpdates_ = true;
            updates_->checkNow();
        };
        // The tray's own question is answered there, and a newer release is announced there.
        QObject::connect(updates_.get(), &Updates::changed, &state_, [this] {
            const bool asked = std::exchange(trayAskedForUpdates_, false);
            if ((asked || updates_->available()) && !updates_->message().isEmpty()) {
                menu_.showMessage(QString::fromStdString(paths_.appName()), updates_->message());
            }
        });
    }
    menu_.onQuit = [this] { onQuit(); };
    menu_.validate();

    setup_.onRetryDownload = [this] {
        setup_.setDownload(SetupModel::Download::progress(0));
        startDownload();
    };
    setupWindow_.onFinish = [this] {
        if (setup_.isComplete()) {
            window_.show();
        }
    };
}

void AppShell::showWindow() {
    ::showWindow(paths_.isApp(), setupWindow_, [this] { window_.show(); });
}

void AppShell::showStatus(const std::string& text) {
    feed_.show(text);
}

void AppShell::setReady(bool ready) {
    state_.setReady(ready);
}

void AppShell::whenModelsPresent(std::function<void()> begin) {
    begin_ = std::move(begin);
    if (downloader_.missing().empty()) {
        setup_.setDownload(SetupModel::Download::of(SetupModel::Download::State::done, 100));
        begun_ = true;
        begin_();
        return;
    }
    downloader_.onFetch = [this](const ModelDownloader::Model& model) {
        fetchBytes_ = model.maximumBytes;
        fetchStart_.reset();
    };
    downloader_.onProgress = [this](int percent) {
        percent_ = percent;
        auto download = SetupModel::Download::progress(percent);
        download.megabytes = static_cast<int>((fetchBytes_ + 500'000) / 1'000'000);
        // The time left at the pace since this file's bytes began to come.
        const double now = windowParts_.clock->uptime();
        if (!fetchStart_) {
            fetchStart_ = std::pair(now, percent);
        } else if (const double took = now - fetchStart_->first;
                   took >= 3 && percent - fetchStart_->second >= 1 && percent < 100) {
            const double perPercent = took / (percent - fetchStart_->second);
            download.secondsLeft = static_cast<int>(perPercent * (100 - percent));
        }
        setup_.setDownload(download);
        showStatus("Downloading speech model: " + std::to_string(percent) + "%");
    };
    downloader_.onRetry = [this](const std::string&) {
        setup_.setDownload(
            SetupModel::Download::of(SetupModel::Download::State::retrying, percent_));
        showStatus("Speech model: waiting for the network");
    };
    downloader_.onFinish = [this](const std::optional<std::string>& error) {
        downloadFinished(error);
    };
    // A first launch: no model chosen yet and none in place.
    if (!settings_.get(SettingKeys::speechModel)) {
        measureThenDownload();
        return;
    }
    startDownload();
}

void AppShell::measureThenDownload() {
    setup_.setDownload(SetupModel::Download::of(SetupModel::Download::State::measuring, 0));
    showStatus("Measuring this computer…");
    modelChoice_->measureAgain(
        [this](const std::vector<SpeechModels::Timing>& timings) { chooseModel(timings); });
}

AppShell::Parts::Measure AppShell::engineMeasurement() const {
    EngineMeasurement::Setup setup;
    setup.engine = WhisperServer::Setup::standard(paths_);
    setup.quantizeTool = EngineMeasurement::quantizeToolBeside(setup.engine.program);
    setup.speechTool = VoiceActivityCheck::SpeechTool::standard(paths_).program;
    setup.folder = paths_.cache() / "measure";
    setup.language = language_;
    return [setup](const std::vector<SpeechModels::Model>& models, const std::atomic<bool>& stop) {
        return EngineMeasurement::run(setup, models, stop);
    };
}

void AppShell::chooseModel(const std::vector<SpeechModels::Timing>& timings) {
    const auto& chosen = SpeechModels::choose(timings, language_);
    const auto timing = std::find_if(timings.begin(), timings.end(),
                                     [&](const auto& t) { return t.file == chosen.file; });
    std::string choice = "Chosen for this computer: " + std::string(chosen.label) + " (" +
                         std::to_string(chosen.megabytes()) + " MB)";
    if (timing != timings.end() && timing->seconds) {
        char seconds[16];
        std::snprintf(seconds, sizeof seconds, "%.1f", *timing->seconds);
        choice += std::string(", about ") + seconds + " s per sentence";
        log("speech model chosen for this computer: " + std::string(chosen.file));
    } else {
        log("the engine could not be measured, using " + std::string(chosen.file));
    }
    choice += ". You can change it in Settings.";
    settings_.set(SettingKeys::speechModel, std::optional<std::string>(chosen.file));
    needModel(chosen);
    useModel_(paths_.models() / chosen.file);
    setup_.setDownload(SetupModel::Download::of(SetupModel::Download::State::waiting, 0, choice));
    if (downloader_.missing().empty()) {
        downloadFinished(std::nullopt);
        return;
    }
    startDownload();
}

void AppShell::needModel(const SpeechModels::Model& model) {
    auto models = ModelDownloader::required(ModelAddress::base(paths_), model);
    setup_.setModelFiles(filesOf(paths_.models(), models));
    downloader_.setModels(std::move(models));
}

void AppShell::startDownload() {
    modelWatch_.reset();
    showStatus(downloadingText);
    downloader_.start();
}

void AppShell::downloadFinished(const std::optional<std::string>& error) {
    if (error) {
        log("download failed: " + *error);
        auto failed = SetupModel::Download::of(SetupModel::Download::State::failed);
        failed.damaged = downloader_.foundDamage();
        setup_.setDownload(failed);
        showStatus(downloadFailedText(paths_.appName()));
        watchForModels();
        return;
    }
    modelWatch_.reset();
    const bool wasFetching = setup_.download().state != SetupModel::Download::State::done;
    setup_.setDownload(SetupModel::Download::of(SetupModel::Download::State::done, 100));
    // Setup was put off ("Later") while it came: the tray says dictation can start.
    const QWidget* setupShown = setupWindow_.widget();
    if (wasFetching && (!setupShown || !setupShown->isVisible()) && state_.hasTray()) {
        menu_.showMessage(QString::fromStdString(paths_.appName()),
                          QStringLiteral("The speech model is ready. Hold ") +
                              QString::fromStdString(std::string(HotKeys::label(state_.key()))) +
                              QStringLiteral(" in any text box and talk."));
    }
    if (!begun_) {
        begun_ = true;
        begin_();
    }
}

void AppShell::watchForModels() {
    modelWatch_ = scheduler_.start(SetupModel::pollSeconds, true, [this] {
        if (downloader_.missing().empty()) {
            log("model files found in place");
            downloadFinished(std::nullopt);
        }
    });
}

void AppShell::offerCrashReport() {
    const auto& bundle = paths_.bundle();
    CrashReports reports(paths_, settings_, bundle ? bundle->supportAddress : std::nullopt);
    reports.offerIfNeeded();
}
