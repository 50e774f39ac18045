#pragma once

#include "ui/window/AppState.h"

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

// Your voice: the speech model and where it runs, the sentence to read, how many are recorded,
// tuning with its progress and result, and the live level and words while the user reads.
class VoiceTab : public QWidget {
    Q_OBJECT
  public:
    explicit VoiceTab(AppState& state, const AppParts& parts, QWidget* parent = nullptr);

  protected:
    // The recordings are counted afresh whenever the pane appears.
    void showEvent(QShowEvent* event) override;

  private:
    void showTest();
    void showVoice();
    void showMicrophone();
    void showDevice();
    // The speech models with their sizes, times here and state, rebuilt on every change.
    void showModels();

    AppState& state_;
    const AppParts& parts_;
    QLabel* recorded_ = nullptr;
    QProgressBar* recordedBar_ = nullptr;
    QLabel* sentence_ = nullptr;
    QLabel* hint_ = nullptr;
    QLabel* words_ = nullptr;
    QLabel* progress_ = nullptr;
    QPushButton* tune_ = nullptr;
    QPushButton* stop_ = nullptr;
    QPushButton* redo_ = nullptr;
    QPushButton* showRecordings_ = nullptr;
    QLabel* result_ = nullptr;
    QLabel* device_ = nullptr;
    QLabel* microphone_ = nullptr;
    QWidget* models_ = nullptr;
};
