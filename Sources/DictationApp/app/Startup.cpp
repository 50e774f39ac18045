#include "app/Startup.h"

#include "HotKey.h"
#include "audio/SystemSound.h"
#include "cleanup/ChatModel.h"
#include "config/Autostart.h"
#include "models/ModelAddress.h"
#include "platform/Log.h"
#include "setup/DesktopChecks.h"
#include "speech/VoiceActivityCheck.h"
#include "ui/HandsFreeEscape.h"
#include "ui/Motion.h"
#include "ui/window/Appearance.h"

#include <QSocketNotifier>
#include <QTimer>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

// SIGINT and SIGTERM reach the main loop through this pipe.
int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

// The engine as the user set it up: the threads they chose, else one per core.
WhisperServer::Setup engineSetup(const Paths& paths) {
    auto setup = WhisperServer::Setup::standard(paths);
    const int threads = SettingsFile(paths.settings()).get(SettingKeys::speechThreads);
    if (threads >= 1 && threads <= 64) {
        setup.threads = threads;
    }
    return setup;
}

} // namespace

Startup::Startup(Options options, Paths paths, Platform platform)
    : options_(std::move(options)), paths_(std::move(paths)), platform_(std::move(platform)),
      server_(std::make_shared<WhisperServer>(
          paths_.models() / SettingsFile(paths_.settings()).speechModel(options_.language).file,
          options_.language, engineSetup(paths_))),
      timingLog_{paths_.runs()}, cleaner_(std::make_shared<OnDeviceCleaner>(
                                     ChatModel::following(SettingsFile(paths_.settings())))),
      recorder_(std::make_unique<PulseRecorder>(paths_.appName(), clock_)),
      settings_(paths_.isApp() ? std::make_unique<Settings>(paths_.settings()) : nullptr),
      key_(options_.key, settings_.get()) {}

Startup::~Startup() {
    shutDown();
}

int Startup::runTerminal(int& argc, char** argv) {
    engineSettled_ = true; // no window says "Starting…" here
    requestPermissions();
    begin();
    // Everything that draws needs the display the wait above made sure of.
    app_ = std::make_unique<QApplication>(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    makeDictation();
    waitForAccessibility();
    quitOnSignals();
    return QApplication::exec();
}

int Startup::runApp(int& argc, char** argv) {
    // Without a display Qt would abort, and that is no crash to report.
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if ((platform == "xcb" && qEnvironmentVariableIsEmpty("DISPLAY")) ||
        (platform == "wayland" && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))) {
        log("no display to show the app on: start it from the desktop session");
        return 1;
    }
    app_ = std::make_unique<QApplication>(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName(QString::fromStdString(paths_.appName()));
    const QString bundleId = QString::fromStdString(paths_.bundle()->identifier);
    QGuiApplication::setDesktopFileName(bundleId);

    const bool atLogin = Autostart::launchedAtLogin();
    instance_ = std::make_unique<SingleInstance>(bundleId);
    if (instance_->claim(!atLogin) == SingleInstance::Claim::handedOver) {
        return 0;
    }
    try {
        Autostart::refresh(paths_);
    } catch (const std::exception& error) {
        log(std::string("could not update the login entry: ") + error.what());
    }

    // The desktop is made at once: without access its key listener waits, and the wait after
    // begin() makes a new one once access comes.
    makeDictation();
    SetupModel::Checks checks = DesktopChecks::make(paths_.appName());
    // The desktop outlives the shell.
    checks.recordKeyNote = desktop_.recordKeyNote;
    shell_ = std::make_unique<AppShell>(AppShell::Parts{
        paths_,
        *settings_,
        key_,
        clock_,
        *scheduler_,
        *controller_,
        server_,
        std::move(checks),
        ModelDownloader::required(ModelAddress::base(paths_),
                                  SettingsFile(paths_.settings()).speechModel(options_.language)),
        mainThread(),
        options_.language,
        [server = server_](const std::filesystem::path& model) { server->useModel(model); },
        {}});
    shell_->onQuit = [this] { quit(); };
    instance_->onReopen = [this] { shell_->showWindow(); };
    quitOnSignals();
    if (!atLogin) {
        shell_->showWindow();
    }
    shell_->whenModelsPresent([this] { beginApp(); });
    return QApplication::exec();
}

void Startup::beginApp() {
    warmUp();
    waitForAccessibility();
    QTimer::singleShot(0, app_.get(), [this] {
        if (shell_) {
            shell_->offerCrashReport();
        }
    });
}

void Startup::requestPermissions() {
    const std::string name = paths_.isApp() ? paths_.appName() : "your terminal app";
    missingAccess_ = platform_.missingAccess();
    if (!missingAccess_.empty()) {
        log("no x access for " + name + ": " + missingAccess_);
    }
    if (const std::string missing = recorder_->missingMicrophone(); !missing.empty()) {
        log("no input device for " + name + ": " + missing);
    }
}

void Startup::begin() {
    warmUp();
    waitForDesktop();
}

void Startup::warmUp() {
    warmUp_ = std::jthread([server = server_.get(), cleaner = cleaner_,
                            tool = VoiceActivityCheck::SpeechTool::standard(paths_),
                            cleanup = options_.cleanup, deliver = inbox_.post(), this] {
        // Dictation is ready once the engine has answered (or failed to): until then the
        // windows keep saying "Starting…".
        {
            struct Settled {
                const Deliver& deliver;
                Startup* startup;
                ~Settled() {
                    deliver([startup = startup] { startup->engineSettled(); });
                }
            } settled{deliver, this};
            VoiceActivityCheck::removeLeftovers();
            const std::vector<float> silence(static_cast<std::size_t>(Recorder::sampleRate), 0.0f);
            (void)VoiceActivityCheck::isSilent(silence, tool);
            try {
                server->warmUp();
            } catch (const std::exception& error) {
                log(std::string("whisper failed to start: ") + error.what());
            }
        }
        // A model server that is slow to load must not hold up "ready".
        if (cleanup) {
            cleaner->warmUp();
        }
    });
}

void Startup::waitForDesktop() {
    if (missingAccess_.empty()) {
        return;
    }
    showStatus(waitingText);
    log("waiting for accessibility permission: " + missingAccess_);
    while (!platform_.missingAccess().empty()) {
        std::this_thread::sleep_for(std::chrono::duration<double>(permissionPollSeconds));
    }
}

void Startup::makeDictation() {
    desktop_ = platform_.makeDesktop();
    scheduler_ = std::make_unique<MainLoopScheduler>();
    paster_ = std::make_unique<Paster>(*desktop_.clipboard, *desktop_.synthesizer, *desktop_.focus,
                                       *desktop_.windows, *scheduler_);
    Controller::Parts parts{
        std::move(recorder_),
        *paster_,
        *desktop_.windows,
        *desktop_.focus,
        *scheduler_,
        SettingsFile(paths_.settings()),
        [tool = VoiceActivityCheck::SpeechTool::standard(paths_)](std::span<const float> samples) {
            return VoiceActivityCheck::isSilent(samples, tool);
        },
        [] { SystemSound::play(SystemSound::pop); },
        clock_,
        cleaner_};
    parts.isApp = paths_.isApp();
    controller_ = std::make_unique<Controller>(options_, *server_, timingLog_, std::move(parts));
    Motion::setReduced(Appearance::systemPrefersLessMotion());
    pill_ = std::make_unique<Pill>(controller_->state());
    if (Overlay* overlay = desktop_.overlay.get()) {
        pill_->setOverlay([overlay](const QImage* picture, int scale, int bottom) {
            if (!picture) {
                overlay->hide();
                return;
            }
            const auto* pixels = reinterpret_cast<const std::uint32_t*>(picture->constBits());
            overlay->show({pixels, static_cast<std::size_t>(picture->width() * picture->height())},
                          picture->width(), picture->height(), scale, bottom);
        });
    }
    controller_->keyLabel = [this] { return std::string(HotKeys::label(key_.value())); };
    app_->installEventFilter(new HandsFreeEscape(*controller_, app_.get()));
}

void Startup::waitForAccessibility() {
    if (startListening()) {
        return;
    }
    showStatus(waitingText);
    accessTimer_ = scheduler_->start(permissionPollSeconds, true, [this] {
        if (startListening()) {
            accessTimer_.reset();
        }
    });
}

bool Startup::startListening() {
    // Asked first, so a wait does not log the same reason every second. A listener decides
    // once whether it can listen, so a desktop that has come round gets a new one.
    if (!desktop_.keys->isAvailable()) {
        if (!platform_.missingAccess().empty()) {
            return false;
        }
        desktop_.keys = platform_.makeKeyListener(*desktop_.synthetic);
        if (!desktop_.keys->isAvailable()) {
            return false;
        }
    }
    monitor_ = std::make_unique<RecordKeyMonitor>(*controller_, [this] { return key_.value(); });
    if (!monitor_->startListening(*desktop_.keys, options_, [this](const std::string& text) {
            if (ready_) {
                showStatus(text);
            } else {
                readyText_ = text;
            }
        })) {
        monitor_.reset();
        return false;
    }
    listening_ = true;
    showReady();
    return true;
}

void Startup::engineSettled() {
    engineSettled_ = true;
    showReady();
}

void Startup::showReady() {
    if (!listening_ || !engineSettled_ || ready_) {
        return;
    }
    ready_ = true;
    if (shell_) {
        shell_->setReady(true);
    }
    if (!readyText_.empty()) {
        showStatus(std::exchange(readyText_, {}));
    }
}

void Startup::showStatus(const std::string& text) {
    if (shell_) {
        shell_->showStatus(text);
    }
}

void Startup::quit() {
    if (shell_) {
        shell_->mainWindow().quitApplication();
    } else {
        QCoreApplication::exit(0);
    }
}

void Startup::quitOnSignals() {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        log("could not watch for quit signals");
        return;
    }
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, app_.get());
    QObject::connect(notifier, &QSocketNotifier::activated, app_.get(), [this] { quit(); });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

void Startup::shutDown() {
    // No new recordings, and none running.
    monitor_.reset();
    accessTimer_.reset();
    if (controller_) {
        controller_->cancel();
    }
    // Requests in flight end at once and nothing starts the engine again, so the warm-up and
    // the controller's queues finish soon.
    server_->shutDown();
    inbox_.close();
    if (warmUp_.joinable()) {
        warmUp_.join();
    }
    if (shell_) {
        // A job in the pipeline formats with the shell's snippets: it ends before they go.
        controller_->waitForWork();
        shell_.reset();
    }
    // The members go in the reverse of their order: views, the controller, the paster, then
    // the desktop, which gives back the keys it borrowed for typing.
}
