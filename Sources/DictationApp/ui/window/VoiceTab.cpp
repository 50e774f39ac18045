#include "ui/window/VoiceTab.h"

#include "platform/Log.h"
#include "storage/Stores.h"
#include "ui/LiveVoice.h"
#include "ui/window/ScreenParts.h"
#include "ui/window/SettingsRows.h"
#include "voice/VoiceTest.h"

#include <QDesktopServices>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
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
    label->setAccessibleName(name);
    label->setWordWrap(true);
    return label;
}

} // namespace

VoiceTab::VoiceTab(AppState& state, QWidget* parent) : QWidget(parent), state_(state) {
    QVBoxLayout* column = ScreenParts::scrollingColumn(this);
    column->addWidget(ScreenParts::heading(QStringLiteral("Tune to your voice")));
    column->addWidget(ScreenParts::note(
        QStringLiteral("Read at least %1 sentences, then Tune tries words that fix what it "
                       "misheard.")
            .arg(VoiceTest::minimumRecordings)));
    device_ = line(QStringLiteral("Speech recognition"));
    column->addWidget(device_);
    showDevice();
    VoiceTest* test = state.voiceTest();
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

    level_ = bar(QStringLiteral("Input level"), 100);
    column->addWidget(level_);
    words_ = ScreenParts::note({});
    words_->setAccessibleName(QStringLiteral("Words heard"));
    column->addWidget(words_);
    levelTimer_ = new QTimer(this);
    levelTimer_->setInterval(33);

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
        if (VoiceTest* test = state_.voiceTest()) {
            test->tune(state_.words());
        }
    });
    connect(stop_, &QPushButton::clicked, test, &VoiceTest::stop);
    connect(redo_, &QPushButton::clicked, test, &VoiceTest::redoPrevious);
    connect(showRecordings_, &QPushButton::clicked, this, [this] {
        const QString folder = QString::fromStdString(state_.voiceTest()->folder().string());
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

    LiveVoice& voice = state.voice();
    connect(&voice, &LiveVoice::isRecordingChanged, this, &VoiceTab::showVoice);
    connect(&voice, &LiveVoice::wordsChanged, this, &VoiceTab::showVoice);
    connect(levelTimer_, &QTimer::timeout, this, [this] {
        level_->setValue(std::clamp(static_cast<int>(state_.voice().level() * 100), 0, 100));
    });
    showTest();
    showVoice();
}

void VoiceTab::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    showDevice();
    if (VoiceTest* test = state_.voiceTest()) {
        test->open();
    }
}

void VoiceTab::showDevice() {
    const std::string device = state_.speechDevice();
    device_->setText(device.empty()
                         ? QStringLiteral("Speech recognition starts with the first dictation.")
                         : QStringLiteral("Speech is recognised on ") + ScreenParts::text(device) +
                               QStringLiteral("."));
}

void VoiceTab::showTest() {
    showDevice();
    const VoiceTest& test = *state_.voiceTest();
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
    const LiveVoice& voice = state_.voice();
    const bool recording = voice.isRecording();
    level_->setVisible(recording);
    words_->setText(voice.words());
    words_->setVisible(recording && !voice.words().isEmpty());
    if (recording) {
        levelTimer_->start();
    } else {
        levelTimer_->stop();
        level_->setValue(0);
    }
}
