#pragma once

#include "ui/window/AppState.h"

#include <QWidget>
#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QMessageBox;
class QPushButton;

// Privacy: how long history is kept, recordings, deleting everything, uninstalling.
class PrivacyTab : public QWidget {
    Q_OBJECT
  public:
    explicit PrivacyTab(const AppParts& parts, QWidget* parent = nullptr);

  private slots:
    // Asks first; only "Delete" removes anything.
    void confirmDeleteAll();
    // Asks first; start-up's uninstaller removes everything and quits.
    void uninstall();

  private:
    void showSettings();

    const AppParts& parts_;
    QComboBox* retention_ = nullptr;
    QCheckBox* keepAudio_ = nullptr;
    QLabel* historyProblem_ = nullptr;
    QPushButton* deleteAll_ = nullptr;
    QPushButton* uninstall_ = nullptr;
};
