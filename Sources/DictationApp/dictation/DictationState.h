#pragma once

#include <QObject>
#include <QString>

// What dictation is doing, for every view of it: the pill, the tray icon, the main window's
// voice field, voice tuning. The controller changes it on the main thread and views follow its
// signals, so the state machine needs no window to be tested.
class DictationState : public QObject {
    Q_OBJECT
  public:
    enum class Phase { idle, listening, working, error };
    Q_ENUM(Phase)

    using QObject::QObject;

    Phase phase() const { return phase_; }
    bool isListening() const { return phase_ == Phase::listening; }
    // The error's text for the user while the phase is error.
    const QString& errorText() const { return errorText_; }
    // The newest input level 0...1 while listening.
    float level() const { return level_; }
    // The words heard so far while listening.
    const QString& words() const { return words_; }
    // The hands-free hint while recording hands-free.
    const QString& hint() const { return hint_; }
    // A silent or failed dictation is kept for retry (the controller also checks the front app
    // when asked to retry).
    bool canRetry() const { return canRetry_; }

    // Listening afresh: no level, no words, no hint.
    void listen();
    // Working on a finished recording; its live words are gone.
    void work();
    void fail(const QString& text);
    void finish();
    // Kept only while listening.
    void setLevel(float level);
    void setWords(const QString& words);
    void setHint(const QString& hint);
    void setCanRetry(bool canRetry);

  signals:
    void phaseChanged(DictationState::Phase phase);
    void levelChanged(float level);
    void wordsChanged(const QString& words);
    void hintChanged(const QString& hint);
    void canRetryChanged(bool canRetry);

  private:
    void setPhase(Phase phase, const QString& errorText = {});

    Phase phase_ = Phase::idle;
    QString errorText_;
    float level_ = 0;
    QString words_;
    QString hint_;
    bool canRetry_ = false;
};
