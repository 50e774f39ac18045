#pragma once

#include "FixedClock.h"
#include "ManualScheduler.h"
#include "OffscreenWidgets.h"
#include "Records.h"
#include "TestSupport.h"
#include "config/Settings.h"
#include "dictation/DictationState.h"
#include "models/ModelChoice.h"
#include "platform/Paths.h"
#include "storage/HistoryStore.h"
#include "storage/Stores.h"
#include "ui/WindowPlacement.h"
#include "ui/window/AppState.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QWidget>
#include <memory>

// Real stores on real files in a private home, at a moment and in a calendar of the test's
// choosing, with timers that run when the test says, and the shared state over them.
class WindowWorld {
  public:
    static inline const Calendar berlin{"Europe/Berlin", "en_US"};

    WindowWorld() { open(); }
    virtual ~WindowWorld() = default;

    // Opens the stores and the shared state; call again after changing files to reopen.
    void open() {
        parts.reset();
        state.reset();
        notes.reset();
        snippets.reset();
        words.reset();
        history.reset();
        history = std::make_unique<HistoryStore>(*clock, HistoryStore::Locations::of(paths),
                                                 SettingsFile(paths.settings()));
        words = std::make_unique<WordStore>(paths.vocabulary());
        snippets = std::make_unique<SnippetStore>(paths.snippets());
        notes = std::make_unique<NoteStore>(paths.notes(), *clock);
        state = std::make_unique<AppState>(key, settings, voice);
        parts = std::make_unique<AppParts>(
            AppParts{*history, *words, *snippets, *notes, settings, paths, clock, scheduler});
    }

    // The speech models for the Voice tab: Small English in use and here, Base English here
    // too, times measured for three; a choice's fetch goes nowhere and stays in flight.
    void offerModels() {
        settings.set(SettingKeys::speechModel,
                     std::optional<std::string>("ggml-small.en-q8_0.bin"));
        settings.set(SettingKeys::speechTimings,
                     std::optional<std::string>("ggml-large-v3-turbo-q5_0.bin=6.44,"
                                                "ggml-small.en-q8_0.bin=1.27,"
                                                "ggml-base.en-q8_0.bin=0.45"));
        for (const char* file : {"ggml-small.en-q8_0.bin", "ggml-base.en-q8_0.bin"}) {
            writeAll(paths.models() / file, "model");
        }
        models = std::make_unique<ModelChoice>(
            settings,
            ModelChoice::Parts{
                paths.models(), "en",
                [](const SpeechModels::Model& model) {
                    return ModelDownloader::Model{std::string(model.file),
                                                  "http://127.0.0.1:9/" + std::string(model.file),
                                                  std::string(model.sha256), model.bytes};
                },
                [](const std::filesystem::path&) {},
                [](const std::vector<SpeechModels::Model>&, const std::atomic<bool>&) {
                    return std::vector<SpeechModels::Timing>{};
                },
                scheduler, [](std::function<void()>) {}});
        parts->modelChoice = models.get();
    }

    // A dictation of `heard` at `when`, added the way the controller adds it.
    void dictate(std::string heard, Timestamp when, std::string app = "Editor") {
        history->add(typedRecord(when, std::move(heard), std::move(app)));
    }

    // The first widget of that type under `root` whose accessible name is `name`, or that has
    // no name of its own (a label read by its value) and is described so.
    template <typename Widget = QWidget> static Widget* named(QWidget* root, const QString& name) {
        for (Widget* widget : root->findChildren<Widget*>()) {
            if (widget->accessibleName() == name ||
                (widget->accessibleName().isEmpty() && widget->accessibleDescription() == name)) {
                return widget;
            }
        }
        return nullptr;
    }
    // A window's size on this screen when it asks for `wanted`: no more than there is room for.
    static QSize fitted(QSize wanted) {
        return wanted.boundedTo(
            QGuiApplication::primaryScreen()->availableGeometry().size() -
            QSize(WindowPlacement::frameAllowance / 3, WindowPlacement::frameAllowance));
    }
    // Whether some visible label under `root` shows exactly `text`.
    static bool shows(QWidget* root, const QString& text) {
        for (QLabel* label : root->findChildren<QLabel*>()) {
            if (label->isVisibleTo(root) && label->text() == text) {
                return true;
            }
        }
        return false;
    }

    TempDir home;
    Paths paths{"/opt/parlwick/bin/parlwick", std::nullopt, Paths::Homes::under(home.path()),
                home / "work"};
    std::shared_ptr<FixedClock> clock =
        std::make_shared<FixedClock>(berlin.date(2026, 12, 9, 10).value(), berlin);
    ManualScheduler scheduler;
    Settings settings{paths.settings()};
    RecordKey key{HotKey::rightOption, &settings};
    DictationState voice;
    std::unique_ptr<HistoryStore> history;
    std::unique_ptr<WordStore> words;
    std::unique_ptr<SnippetStore> snippets;
    std::unique_ptr<NoteStore> notes;
    std::unique_ptr<AppState> state;
    std::unique_ptr<AppParts> parts;
    std::unique_ptr<ModelChoice> models;
};

// The window's screens offscreen, over a world made afresh for each test (the suite's
// application exists by then).
class WindowFixture : public OffscreenWidgets, public WindowWorld {};
