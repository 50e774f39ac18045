#pragma once

#include <QWidget>

class LocalModel;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class Settings;

// Tidying with a model server the user runs: the switch, the server's address, the model, an
// API key and a trial of the first example. A server on another computer is used only after
// the user agrees that dictations go there.
class ModelServerPane : public QWidget {
    Q_OBJECT
  public:
    ModelServerPane(Settings& settings, LocalModel& model, QWidget* parent = nullptr);

  private:
    void storeAddress();
    void storeName();
    void storeKey();
    // The stored choices and the server's answers; emits nothing back into the settings.
    void showSettings();
    void showModel();

    Settings& settings_;
    LocalModel& model_;
    QCheckBox* tidy_ = nullptr;
    QLineEdit* address_ = nullptr;
    QLabel* problem_ = nullptr;
    QComboBox* name_ = nullptr;
    QLineEdit* key_ = nullptr;
    QPushButton* try_ = nullptr;
    QLabel* trial_ = nullptr;
};
