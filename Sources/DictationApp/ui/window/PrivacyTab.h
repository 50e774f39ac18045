#pragma once

#include "ui/window/AppState.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QMessageBox;
class QPushButton;

// Privacy: how long history is kept, recordings, deleting everything, uninstalling.
class PrivacyTab : public QWidget {
    Q_OBJECT
  public:
    explicit PrivacyTab(AppState& state, QWidget* parent = nullptr);

  private slots:
    // Asks first; only "Delete" removes anything.
    void confirmDeleteAll();
    // The uninstaller comes with its own change; its button stays disabled until then.
    void uninstall();

  private:
    void showSettings();

    AppState& state_;
    QComboBox* retention_ = nullptr;
    QCheckBox* keepAudio_ = nullptr;
    QLabel* historyProblem_ = nullptr;
    QPushButton* deleteAll_ = nullptr;
    QPushButton* uninstall_ = nullptr;
};
