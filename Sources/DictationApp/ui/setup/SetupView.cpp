#include "ui/setup/SetupView.h"

#include "ui/setup/SoundSettings.h"
#include "ui/window/Icons.h"
#include "ui/window/ScreenParts.h"

#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

// The drawings live in a static library: bring its resources in before the first use.
static void loadOwnIcons() {
    Q_INIT_RESOURCE(setup_icons);
}

namespace {

// Drawn from the palette, so it is set again whenever the look changes.
const char* const look = R"(
#step { background: palette(base); border: 1px solid palette(button); border-radius: 8px; }
#step QLabel { background: transparent; }
#keyCap { background: palette(base); border: 1px solid palette(button); border-radius: 5px;
  padding: 1px 7px; font-weight: 600; }
)";

QLabel* bold(const QString& text) {
    auto* label = new QLabel(text);
    QFont font = label->font();
    font.setWeight(QFont::DemiBold);
    label->setFont(font);
    label->setAccessibleName(text);
    return label;
}

QPushButton* button(const QString& text) {
    auto* button = new QPushButton(text);
    button->setAccessibleName(text);
    return button;
}

void setText(QLabel* label, const QString& text) {
    label->setText(text);
    label->setAccessibleName(text);
}

// One benefit: its symbol, its title over its detail.
QWidget* benefit(std::string_view symbol, const QString& title, const QString& detail) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    auto* icon = new QLabel;
    icon->setPixmap(Icons::symbol(symbol).pixmap(24, 24));
    icon->setAccessibleName(title);
    layout->addWidget(icon, 0, Qt::AlignTop);
    auto* words = new QVBoxLayout;
    words->setSpacing(2);
    words->addWidget(bold(title));
    words->addWidget(ScreenParts::note(detail));
    layout->addLayout(words, 1);
    return row;
}

} // namespace

SetupView::SetupView(SetupModel& model, QString appName, QWidget* parent)
    : QWidget(parent), model_(model), appName_(std::move(appName)) {
    static const bool loaded = (loadOwnIcons(), true);
    (void)loaded;
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto* scrolling = new QWidget;
    QVBoxLayout* column = ScreenParts::scrollingColumn(scrolling);
    outer->addWidget(scrolling, 1);

    column->addWidget(ScreenParts::heading(QStringLiteral("Welcome to ") + appName_));
    column->addWidget(ScreenParts::note(
        QStringLiteral("Hold a key, talk, and your words appear where you're typing.")));
    column->addSpacing(8);
    column->addWidget(benefit("text.cursor", QStringLiteral("Types into any app"),
                              QStringLiteral("Email, Slack, docs and AI prompts.")));
    column->addWidget(benefit("text.badge.checkmark", QStringLiteral("Cleans it up"),
                              QStringLiteral("The ums and repeats go. Your words stay.")));
    column->addWidget(benefit("lock.fill", QStringLiteral("Stays on this computer"),
                              QStringLiteral("Your voice is never sent anywhere.")));
    column->addSpacing(12);

    auto* stepsTitle = new QHBoxLayout;
    stepsTitle->addWidget(bold(QStringLiteral("Three quick steps")));
    stepsTitle->addStretch();
    count_ = new QLabel;
    count_->setForegroundRole(QPalette::PlaceholderText);
    stepsTitle->addWidget(count_);
    column->addLayout(stepsTitle);

    QVBoxLayout* body = nullptr;
    microphone_ = addStep(column, QStringLiteral("Microphone"), &body);
    auto* microphoneButtons = new QHBoxLayout;
    allow_ = button(QStringLiteral("Allow"));
    openSettings_ = button(QStringLiteral("Open Settings"));
    microphoneButtons->addWidget(allow_);
    microphoneButtons->addWidget(openSettings_);
    microphoneButtons->addStretch();
    body->addLayout(microphoneButtons);

    accessibility_ = addStep(column, QStringLiteral("Typing into other apps"), &body);

    download_ = addStep(column, QStringLiteral("Speech model"), &body);
    progress_ = new QProgressBar;
    progress_->setRange(0, 100);
    progress_->setTextVisible(false);
    progress_->setMaximumHeight(8);
    body->addWidget(progress_);
    tryAgain_ = button(QStringLiteral("Try again"));
    body->addWidget(tryAgain_, 0, Qt::AlignLeft);

    column->addSpacing(12);
    auto* keyRow = new QHBoxLayout;
    auto* keyLabel = bold(QStringLiteral("Key to hold"));
    keyRow->addWidget(keyLabel);
    keyRow->addStretch();
    key_ = new QComboBox;
    key_->setAccessibleName(QStringLiteral("Key to hold"));
    keyLabel->setBuddy(key_);
    for (const HotKey key : HotKeys::allCases) {
        key_->addItem(ScreenParts::text(HotKeys::label(key)));
    }
    keyRow->addWidget(key_);
    column->addLayout(keyRow);
    fnHint_ = ScreenParts::note(QStringLiteral(
        "Most PC keyboards never report fn. If holding it does nothing, pick right Alt."));
    column->addWidget(fnHint_);
    column->addStretch();

    // The footer stays in sight below the scrolling part.
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setForegroundRole(QPalette::Mid);
    outer->addWidget(line);
    auto* footer = new QHBoxLayout;
    footer->setContentsMargins(32, 14, 32, 18);
    footerText_ = ScreenParts::note(QString());
    footer->addWidget(footerText_, 1);
    footerKey_ = new QWidget;
    auto* hold = new QHBoxLayout(footerKey_);
    hold->setContentsMargins(0, 0, 0, 0);
    hold->setSpacing(6);
    hold->addWidget(new QLabel(QStringLiteral("Hold")));
    keyCap_ = new QLabel;
    keyCap_->setObjectName(QStringLiteral("keyCap"));
    hold->addWidget(keyCap_);
    footerAfterKey_ = new QLabel(QStringLiteral("in any text box and talk."));
    hold->addWidget(footerAfterKey_);
    hold->addStretch();
    footer->addWidget(footerKey_, 1);
    finish_ = button(QString());
    finish_->setDefault(true);
    footer->addWidget(finish_);
    outer->addLayout(footer);

    connect(allow_, &QPushButton::clicked, this, [this] { model_.askForMicrophone(); });
    connect(openSettings_, &QPushButton::clicked, this, [] { SoundSettings::open(); });
    connect(tryAgain_, &QPushButton::clicked, this, [this] { model_.onRetryDownload(); });
    connect(key_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0) {
            model_.setKey(HotKeys::allCases[static_cast<std::size_t>(index)]);
        }
    });
    connect(finish_, &QPushButton::clicked, this, [this] { onDone(); });
    connect(&model_, &SetupModel::changed, this, &SetupView::update);
    showLook();
    update();
}

SetupView::Step SetupView::addStep(QVBoxLayout* column, const QString& title, QVBoxLayout** body) {
    auto* card = new QFrame;
    card->setObjectName(QStringLiteral("step"));
    card->setAccessibleName(title);
    *body = new QVBoxLayout(card);
    (*body)->setContentsMargins(16, 12, 16, 12);
    (*body)->setSpacing(6);
    auto* top = new QHBoxLayout;
    top->addWidget(bold(title));
    top->addStretch();
    Step step{new QLabel, ScreenParts::note(QString())};
    top->addWidget(step.mark);
    (*body)->addLayout(top);
    (*body)->addWidget(step.detail);
    column->addWidget(card);
    return step;
}

void SetupView::showLook() {
    setStyleSheet(QString::fromLatin1(look));
}

void SetupView::show(Step step, bool done, const QString& detail) {
    setText(step.mark, done ? QStringLiteral("done") : QStringLiteral("to do"));
    step.mark->setForegroundRole(done ? QPalette::Highlight : QPalette::PlaceholderText);
    QFont font = step.mark->font();
    font.setWeight(done ? QFont::DemiBold : QFont::Normal);
    step.mark->setFont(font);
    setText(step.detail, detail);
}

QString SetupView::microphoneText(const SetupModel& model) {
    switch (model.microphone()) {
    case SetupModel::Microphone::granted:
        return QStringLiteral("Allowed. It only listens while you hold the key.");
    case SetupModel::Microphone::notAsked:
        return QStringLiteral(
            "So it can hear you while you hold the key. Nothing is recorded otherwise.");
    case SetupModel::Microphone::denied:
        break;
    }
    return model.hasSoundServer()
               ? QStringLiteral("No input found. Plug in or pick a microphone in Sound settings.")
               : QStringLiteral("No sound server answers. Start PulseAudio or PipeWire, then "
                                "plug in a microphone.");
}

QString SetupView::accessibilityText(const SetupModel& model, const QString& appName) {
    if (model.accessibility()) {
        const std::string note = model.recordKeyNote();
        QString text = QStringLiteral("Allowed. It can type into other apps.") +
                       (note.empty() ? QString() : QStringLiteral(" ") + ScreenParts::text(note));
        if (!model.missingFieldChecks().empty()) {
            text += QStringLiteral("\nPassword fields can't be told apart, so it types into them "
                                   "like any field. Install at-spi2-core and log in again to "
                                   "fix that. Missing here: ") +
                    ScreenParts::text(model.missingFieldChecks()) + QStringLiteral(".");
        }
        return text;
    }
    if (!model.missingDesktopAccess().empty() && model.isWayland()) {
        return QStringLiteral("So it can type into other apps. ") + appName +
               QStringLiteral(" needs a compositor with a virtual keyboard (sway and other "
                              "wlroots desktops) or the remote desktop portal (GNOME, KDE).\n"
                              "Missing here: ") +
               ScreenParts::text(model.missingDesktopAccess()) + QStringLiteral(".");
    }
    if (!model.missingDesktopAccess().empty()) {
        return QStringLiteral("So it can type into other apps. ") + appName +
               QStringLiteral(
                   " needs an X11 session, or apps in Xwayland windows.\nMissing here: ") +
               ScreenParts::text(model.missingDesktopAccess()) + QStringLiteral(".");
    }
    return QStringLiteral("So it can type into other apps.");
}

QString SetupView::downloadText(const SetupModel::Download& download) {
    const QString choice = download.choice.empty()
                               ? QString()
                               : QString::fromStdString(download.choice) + QStringLiteral("\n");
    switch (download.state) {
    case SetupModel::Download::State::measuring:
        return QStringLiteral("Measuring how fast this computer transcribes, to choose the "
                              "speech model that suits it.");
    case SetupModel::Download::State::waiting:
        if (!download.choice.empty()) {
            return choice + QStringLiteral("Downloaded once. Transcription then runs offline.");
        }
        return QStringLiteral("About 575 MB, downloaded once. Transcription then runs offline.");
    case SetupModel::Download::State::progress: {
        QString done = QStringLiteral("Downloading, %1%").arg(download.percent);
        if (download.megabytes > 0) {
            done += QStringLiteral(" of %1 MB").arg(download.megabytes);
        }
        if (download.secondsLeft) {
            const int seconds = *download.secondsLeft;
            done += seconds < 60 ? QStringLiteral(", less than a minute left")
                                 : QStringLiteral(", about %1 min left").arg((seconds + 30) / 60);
        }
        return choice + done + QStringLiteral(". You can keep going.");
    }
    case SetupModel::Download::State::retrying:
        return choice + QStringLiteral("Waiting for the network: trying again every few seconds, "
                                       "from where it stopped. %1% so far.")
                            .arg(download.percent);
    case SetupModel::Download::State::done:
        return choice + QStringLiteral("Ready. Transcription runs offline.");
    case SetupModel::Download::State::failed:
        break;
    }
    if (download.damaged) {
        return QStringLiteral("The downloaded file was damaged and has been thrown away. Try "
                              "again to fetch it anew.");
    }
    return QStringLiteral("The download didn't finish. Check your connection and try again.");
}

void SetupView::update() {
    setText(count_, QStringLiteral("%1 of 3 done").arg(model_.stepsDone()));

    const SetupModel::Microphone microphone = model_.microphone();
    show(microphone_, microphone == SetupModel::Microphone::granted, microphoneText(model_));
    allow_->setVisible(microphone == SetupModel::Microphone::notAsked);
    // Sound settings help only when a server answers.
    openSettings_->setVisible(microphone == SetupModel::Microphone::denied &&
                              model_.hasSoundServer() && SoundSettings::find().has_value());

    show(accessibility_, model_.accessibility(), accessibilityText(model_, appName_));

    const SetupModel::Download& download = model_.download();
    show(download_, download.state == SetupModel::Download::State::done, downloadText(download));
    progress_->setVisible(download.state == SetupModel::Download::State::progress);
    progress_->setValue(download.percent);
    progress_->setAccessibleName(
        QStringLiteral("Speech model download, %1 percent").arg(download.percent));
    tryAgain_->setVisible(download.state == SetupModel::Download::State::failed);

    {
        const QSignalBlocker blocker(key_);
        key_->setCurrentIndex(static_cast<int>(model_.key()));
    }
    fnHint_->setVisible(model_.key() == HotKey::fn);

    const bool complete = model_.isComplete();
    footerText_->setVisible(!complete);
    footerKey_->setVisible(complete);
    setText(footerText_, QStringLiteral("You can close this and finish later from the tray icon, "
                                        "or by opening ") +
                             appName_ + QStringLiteral(" again."));
    const QString keyLabel = ScreenParts::text(HotKeys::label(model_.key()));
    keyCap_->setText(keyLabel);
    footerKey_->setAccessibleName(QStringLiteral("Hold ") + keyLabel +
                                  QStringLiteral(" in any text box and talk."));
    const QString finish = complete ? QStringLiteral("Start talking") : QStringLiteral("Later");
    finish_->setText(finish);
    finish_->setAccessibleName(finish);
}

void SetupView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        finish_->click();
        return;
    }
    QWidget::keyPressEvent(event);
}
