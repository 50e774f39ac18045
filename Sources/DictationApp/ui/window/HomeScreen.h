#pragma once

#include "ui/window/AppState.h"

#include <QString>
#include <QWidget>
#include <vector>

class ProgressCard;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

// Home: the greeting, the progress card, the getting-started steps and the newest dictations.
class HomeScreen : public QWidget {
    Q_OBJECT
  public:
    // The newest dictations shown under "Recent".
    static constexpr int recentCount = 5;

    explicit HomeScreen(AppState& state, const AppParts& parts, QWidget* parent = nullptr);

    // "Good morning" from 5 to 11, "Good afternoon" from 12 to 16, else "Good evening", then the
    // first name when there is one.
    static QString greeting(int hour, const QString& firstName);

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    struct StepRow {
        QWidget* row = nullptr;
        QLabel* mark = nullptr;
        QLabel* pitch = nullptr;
        QPushButton* button = nullptr;
    };

    QWidget* makeSteps();
    QWidget* makeRecent();
    void showGreeting();
    void showSteps();
    void showRecent();
    void tryHere();

    AppState& state_;
    const AppParts& parts_;
    QLabel* greeting_ = nullptr;
    QLabel* problem_ = nullptr;
    ProgressCard* card_ = nullptr;
    QWidget* steps_ = nullptr;
    std::vector<StepRow> rows_;
    QPlainTextEdit* tryField_ = nullptr;
    QTreeWidget* recent_ = nullptr;
    QLabel* recentEmpty_ = nullptr;
};
