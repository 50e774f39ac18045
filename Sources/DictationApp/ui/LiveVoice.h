#pragma once

#include <QObject>
#include <QString>

// The recording state, level and live words, for the windows that draw the voice.
class LiveVoice : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isRecording READ isRecording NOTIFY isRecordingChanged)
    Q_PROPERTY(QString words READ words NOTIFY wordsChanged)
  public:
    using QObject::QObject;

    bool isRecording() const { return isRecording_; }
    const QString& words() const { return words_; }
    // Read on every animation frame, so it is not announced.
    float level() const { return level_; }

    // Level back to 0; a new recording starts with no words.
    void recordingChanged(bool recording);
    // Kept only while recording.
    void setLevel(float level);
    void setWords(const QString& words);

  signals:
    void isRecordingChanged(bool recording);
    void wordsChanged(const QString& words);

  private:
    bool isRecording_ = false;
    QString words_;
    float level_ = 0;
};
