#pragma once

#include "LevelSmoother.h"
#include "dictation/DictationState.h"

#include <QElapsedTimer>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

// The live voice as a field that breathes with the input level: a soft glow behind and a
// ribbon that swells with the smoothed level. The level layer redraws 30 times a second while
// recording and 12 times otherwise; the glow behind at most every quarter second.
class VoiceField : public QWidget {
    Q_OBJECT
  public:
    static constexpr int recordingInterval = 1000 / 30;
    static constexpr int idleInterval = 1000 / 12;
    static constexpr int backgroundInterval = 250;

    explicit VoiceField(const DictationState& voice, QWidget* parent = nullptr);

    double displayedLevel() const { return smoother_.displayed(); }
    const QTimer& frames() const { return frames_; }
    QSize sizeHint() const override { return {320, 72}; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    // Frames run only while the field shows.
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void frame();
    void drawBackground();

    const DictationState& voice_;
    LevelSmoother smoother_;
    QTimer frames_;
    QPixmap background_;
    QElapsedTimer sinceBackground_;
    double phase_ = 0;
};
