#pragma once

#include "ui/window/AppState.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QTreeWidget;

// Account: the local profile, rank, pace and where the user talks.
class AccountTab : public QWidget {
    Q_OBJECT
  public:
    explicit AccountTab(AppState& state, const AppParts& parts, QWidget* parent = nullptr);

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void showName();
    void showProgress();

    AppState& state_;
    const AppParts& parts_;
    QLabel* avatar_ = nullptr;
    QLineEdit* name_ = nullptr;
    QLabel* problem_ = nullptr;
    QLabel* rank_ = nullptr;
    QLabel* pace_ = nullptr;
    QTreeWidget* apps_ = nullptr;
    QLabel* corrections_ = nullptr;
};
