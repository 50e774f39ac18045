#include "ui/window/VoiceTab.h"

#include "models/ModelChoice.h"
#include "platform/Log.h"
#include "storage/Stores.h"
#include "ui/VoiceField.h"
#include "ui/window/ModelServerPane.h"
#include "ui/window/ScreenParts.h"
#include "ui/window/SettingsRows.h"
#include "voice/VoiceTest.h"

#include <QDesktopServices>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

namespace {

QProgressBar* bar(const QString& name, int maximum) {
    auto* bar = new QProgressBar;
    bar->setAccessibleName(name);
    bar->setRange(0, maximum);
    bar->setTextVisible(false);
    bar->setMaximumHeight(8);
    return bar;
}

QLabel* line(const QString& name) {
    auto* label = new QLabel;
    ScreenParts::describe(label, name);
    label->setWordWrap(true);
    return label;
}

} // namespace

VoiceTab::VoiceTab(AppState& state, const AppParts& parts, QWidget* parent)
    : QWidget(parent), state_(state), parts_(parts) {
    QVBoxLayout* column = ScreenParts::scrollingColumn(this);
    // Which microphone listens, and how loud it hears you while you hold the key.
    column->addWidget(ScreenParts::heading(QStringLiteral("Microphone")));
    microphone_ = line(QStringLiteral("Microphone"));
    column->addWidget(microphone_);
    column->addWidget(new VoiceField(state.dictation()));
    connect(&state, &AppState::microphoneNameChanged, this, &VoiceTab::showMicrophone);
    showMicrophone();
    ModelChoice* choice = parts.modelChoice;
    if (choice) {
        column->addWidget(ScreenParts::heading(QStringLiteral("Speech model")));
    }
    device_ = line(QStringLiteral("Speech recognition"));
    column->addWidget(device_);
    showDevice();
    if (choice) {
        models_ = new QWidget;
        column->addWidget(models_);
        connect(choice, &ModelChoice::changed, this, &VoiceTab::showModels);
        showModels();
    }
    if (parts.localModel) {
        column->addWidget(ScreenParts::heading(QStringLiteral("Tidy with a local model")));
        column->addWidget(new ModelServerPane(parts.settings, *parts.localModel));
    }
    column->addWidget(ScreenParts::heading(QStringLiteral("Tune to your voice")));
    column->addWidget(ScreenParts::note(
        QStringLiteral("Read at least %1 sentences, then Tune tries words that fix what it "
                       "misheard.")
            .arg(VoiceTest::minimumRecordings)));
    VoiceTest* test = parts.voiceTest;
    if (!test) {
        column->addStretch();
        return;
    }

    recorded_ = line(QStringLiteral("Recorded"));
    column->addWidget(recorded_);
    recordedBar_ = bar(QStringLiteral("Sentences recorded"), VoiceTest::sentenceCount);
    column->addWidget(recordedBar_);

    sentence_ = line(QStringLiteral("Sentence to read"));
    QFont font = sentence_->font();
    font.setPointSizeF(font.pointSizeF() * 1.3);
    sentence_->setFont(font);
    sentence_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(sentence_);
    hint_ = ScreenParts::note({});
    hint_->setAccessibleName(QStringLiteral("Hint"));
    column->addWidget(hint_);

    words_ = ScreenParts::note({});
    words_->setAccessibleName(QStringLiteral("Words heard"));
    column->addWidget(words_);

    auto* buttons = new QHBoxLayout;
    tune_ = SettingsRows::button(QStringLiteral("Tune"));
    stop_ = SettingsRows::button(QStringLiteral("Stop"));
    redo_ = SettingsRows::button(QStringLiteral("Redo previous"));
    showRecordings_ = SettingsRows::button(QStringLiteral("Show recordings"));
    for (QPushButton* button : {tune_, stop_, redo_, showRecordings_}) {
        buttons->addWidget(button);
    }
    buttons->addStretch();
    column->addLayout(buttons);
    progress_ = line(QStringLiteral("Tuning progress"));
    column->addWidget(progress_);
    result_ = line(QStringLiteral("Tuning result"));
    column->addWidget(result_);
    column->addStretch();

    connect(tune_, &QPushButton::clicked, this, [this] {
        if (VoiceTest* test = parts_.voiceTest) {
            test->tune(parts_.words);
        }
    });
    connect(stop_, &QPushButton::clicked, test, &VoiceTest::stop);
    connect(redo_, &QPushButton::clicked, test, &VoiceTest::redoPrevious);
    connect(showRecordings_, &QPushButton::clicked, this, [this] {
        const QString folder = QString::fromStdString(parts_.voiceTest->folder().string());
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder))) {
            log("voice: no file browser opened the recordings folder");
        }
    });
    for (auto signal :
         {&VoiceTest::indexChanged, &VoiceTest::statusChanged, &VoiceTest::tuningChanged,
          &VoiceTest::resultChanged, &VoiceTest::progressChanged}) {
        connect(test, signal, this, &VoiceTab::showTest);
    }
    connect(&state, &AppState::keyChanged, this, &VoiceTab::showTest);

    const DictationState& voice = state.dictation();
    connect(&voice, &DictationState::phaseChanged, this, &VoiceTab::showVoice);
    connect(&voice, &DictationState::wordsChanged, this, &VoiceTab::showVoice);
    showTest();
    showVoice();
}

void VoiceTab::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    showDevice();
    if (VoiceTest* test = parts_.voiceTest) {
        test->open();
    }
}

void VoiceTab::showDevice() {
    const std::string device = parts_.speechDevice();
    device_->setText(device.empty()
                         ? QStringLiteral("Speech recognition starts with the first dictation.")
                         : QStringLiteral("Speech is recognised on ") + ScreenParts::text(device) +
                               QStringLiteral("."));
}

void VoiceTab::showModels() {
    ModelChoice& choice = *parts_.modelChoice;
    // The rows change with every step of a download: a fresh layout each time.
    delete models_->layout();
    // Out of the tab at once, deleted once the click that may have come from it is over.
    for (QWidget* old : models_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        old->hide();
        old->setParent(nullptr);
        old->deleteLater();
    }
    auto* rows = new QVBoxLayout(models_);
    rows->setContentsMargins(0, 0, 0, 0);
    for (const ModelChoice::Row& row : choice.rows()) {
        const SpeechModels::Model& model = *row.model;
        const QString file = ScreenParts::text(model.file);
        QString title =
            ScreenParts::text(model.label) + QStringLiteral(" · %1 MB").arg(model.megabytes());
        if (row.seconds) {
            title += QStringLiteral(" · %1 s per sentence here").arg(*row.seconds, 0, 'f', 1);
        }
        auto* line = new QHBoxLayout;
        auto* pick = new QRadioButton(title);
        pick->setChecked(row.chosen);
        pick->setAccessibleName(ScreenParts::text(model.label));
        connect(pick, &QRadioButton::clicked, this,
                [this, file = std::string(model.file)] { parts_.modelChoice->choose(file); });
        line->addWidget(pick);
        line->addStretch();
        QString state;
        if (choice.fetching() && *choice.fetching() == model.file) {
            state = QStringLiteral("Downloading, %1%").arg(choice.percent());
        } else if (row.chosen) {
            state = QStringLiteral("In use");
        } else if (row.present) {
            auto* remove = SettingsRows::button(QStringLiteral("Remove"));
            remove->setAccessibleName(QStringLiteral("Remove ") + ScreenParts::text(model.label));
            connect(remove, &QPushButton::clicked, this,
                    [this, file = std::string(model.file)] { parts_.modelChoice->remove(file); });
            line->addWidget(remove);
        }
        if (!state.isEmpty()) {
            line->addWidget(new QLabel(state));
        }
        rows->addLayout(line);
        rows->addWidget(ScreenParts::note(ScreenParts::text(model.description)));
    }
    if (!choice.failure().empty()) {
        rows->addWidget(ScreenParts::note(ScreenParts::text(choice.failure())));
        auto* again = SettingsRows::button(QStringLiteral("Try again"));
        connect(again, &QPushButton::clicked, this, [this] { parts_.modelChoice->tryAgain(); });
        auto* line = new QHBoxLayout;
        line->addWidget(again);
        line->addStretch();
        rows->addLayout(line);
    }
    auto* measure = SettingsRows::button(choice.isMeasuring() ? QStringLiteral("Measuring…")
                                                              : QStringLiteral("Measure again"));
    measure->setEnabled(!choice.isMeasuring());
    connect(measure, &QPushButton::clicked, this, [this] { parts_.modelChoice->measureAgain(); });
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(measure);
    buttons->addStretch();
    rows->addLayout(buttons);
}

void VoiceTab::showTest() {
    showDevice();
    const VoiceTest& test = *parts_.voiceTest;
    const int index = test.index();
    recorded_->setText(
        QStringLiteral("%1 of %2 recorded").arg(index).arg(VoiceTest::sentenceCount));
    recordedBar_->setValue(index);
    sentence_->setText(ScreenParts::text(test.sentence()));
    sentence_->setVisible(index < VoiceTest::sentenceCount);
    QString hint;
    if (!test.status().empty()) {
        hint = ScreenParts::text(test.status());
    } else if (index >= VoiceTest::sentenceCount) {
        hint = QStringLiteral("Recordings stay on this computer.");
    } else {
        hint = QStringLiteral("Hold ") + ScreenParts::text(HotKeys::label(state_.key())) +
               QStringLiteral(", read it the way you normally talk, then let go.");
    }
    hint_->setText(hint);

    const bool tuning = test.isTuning();
    tune_->setEnabled(!tuning && index >= VoiceTest::minimumRecordings);
    stop_->setVisible(tuning);
    redo_->setEnabled(!tuning && index > 0);
    progress_->setText(ScreenParts::text(test.progressText()));
    progress_->setVisible(tuning);
    result_->setText(test.result() ? ScreenParts::text(test.result()->summary()) : QString());
    result_->setVisible(test.result().has_value());
}

void VoiceTab::showVoice() {
    const DictationState& voice = state_.dictation();
    const bool recording = voice.isListening();
    words_->setText(voice.words());
    words_->setVisible(recording && !voice.words().isEmpty());
}

void VoiceTab::showMicrophone() {
    const QString& name = state_.microphoneName();
    microphone_->setText(name.isEmpty()
                             ? QStringLiteral("No microphone found. Plug one in or choose one in "
                                              "your sound settings.")
                             : QStringLiteral("Listening with ") + name + QLatin1Char('.'));
}
