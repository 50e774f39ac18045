#include "ui/tray/StatusMenu.h"

#include "platform/Log.h"
#include "ui/window/Icons.h"

#include <QAction>
#include <QKeySequence>
#include <QTimer>

StatusMenu::StatusMenu(AppState& state, const DictationState& dictation, const std::string& appName,
                       QObject* parent)
    : QObject(parent), state_(state) {
    const QString name = QString::fromStdString(appName);
    statusLine_ = menu_.addAction(state.status());
    statusLine_->setEnabled(false);
    menu_.addSeparator();
    openItem_ = menu_.addAction(QStringLiteral("Open ") + name, this, [this] { onOpen(); });
    retryItem_ =
        menu_.addAction(QStringLiteral("Retry Last Dictation"), this, [this] { onRetry(); });
    updatesItem_ = menu_.addAction(QStringLiteral("Check for Updates…"), this, [this] {
        if (onCheckForUpdates) {
            onCheckForUpdates();
        }
    });
    menu_.addSeparator();
    quitItem_ = menu_.addAction(QStringLiteral("Quit ") + name, this, [this] { onQuit(); });
    quitItem_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quitItem_->setShortcutVisibleInContextMenu(true);

    tray_.setContextMenu(&menu_);
    tray_.setToolTip(name);
    // A left click opens the window, as Linux trays lead users to expect.
    connect(&tray_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason why) {
                if (why == QSystemTrayIcon::Trigger) {
                    onOpen();
                }
            });
    setRecording(false);
    validate();

    connect(&menu_, &QMenu::aboutToShow, this, &StatusMenu::validate);
    connect(&state, &AppState::statusChanged, this, &StatusMenu::showStatus);
    connect(&dictation, &DictationState::canRetryChanged, this, &StatusMenu::validate);
    connect(&dictation, &DictationState::phaseChanged, this, [this](DictationState::Phase phase) {
        setRecording(phase == DictationState::Phase::listening);
        validate();
    });
    // Start-up assigns the callbacks after construction, in the same turn of the main loop.
    QTimer::singleShot(0, this, &StatusMenu::validate);

    const bool hasTray = QSystemTrayIcon::isSystemTrayAvailable();
    state.setHasTray(hasTray);
    if (!hasTray) {
        log("no system tray: the main window stays the way back in; launching again reopens it");
    }
    tray_.show();
}

StatusMenu::~StatusMenu() {
    tray_.setContextMenu(nullptr);
}

void StatusMenu::setRecording(bool recording) {
    recording_ = recording;
    tray_.setIcon(Icons::tray(recording));
}

void StatusMenu::showMessage(const QString& title, const QString& text) {
    lastMessage_ = text;
    tray_.showMessage(title, text, QSystemTrayIcon::Information);
}

void StatusMenu::validate() {
    retryItem_->setEnabled(canRetry());
    updatesItem_->setEnabled(static_cast<bool>(onCheckForUpdates));
}

void StatusMenu::showStatus() {
    statusLine_->setText(state_.status());
}
