#pragma once

#include "dictation/DictationState.h"
#include "ui/window/AppState.h"

#include <QObject>
#include <QString>

// Everything that tells the user how the app is doing, gathered into AppState's status, which
// the tray's status line shows. Start-up's texts ("Starting…", the wait for the desktop's
// permission, "Hold … to talk", the model download) stand until the next one; a dictation's
// error covers them until the next recording starts or start-up says something new. Work the
// user started later (another speech model's download) shows over the standing text while it
// lasts.
class StatusFeed : public QObject {
    Q_OBJECT
  public:
    static constexpr const char* startingText = "Starting…";

    // Shows "Starting…" until start-up says otherwise, unless the state already has a text
    // or is ready.
    StatusFeed(AppState& state, const DictationState& dictation, QObject* parent = nullptr);

    // Start-up's own text, in place of the one before.
    void show(const QString& text);
    void show(const std::string& text) { show(QString::fromStdString(text)); }
    // Over the standing text, under an error, until cleared with an empty one.
    void showWhile(const QString& text);

  private:
    void publish();

    AppState& state_;
    QString standing_;
    QString passing_;
    QString error_;
};
