#pragma once

#include "ui/window/AppState.h"

#include <QWidget>

class DayChart;
class QLabel;
class QTreeWidget;
class RankLadder;

// Insights: the last two weeks in figures, where the user talks and the rank ladder.
class InsightsScreen : public QWidget {
    Q_OBJECT
  public:
    static constexpr int dayCount = 14;

    explicit InsightsScreen(HistoryStore& history, const Clock& clock, QWidget* parent = nullptr);

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    // Computed afresh from the kept history, the date and the calendar.
    void refresh();

    HistoryStore& history_;
    const Clock& clock_;
    QLabel* problem_ = nullptr;
    QLabel* nothingYet_ = nullptr;
    QWidget* figures_ = nullptr;
    QLabel* recentWords_ = nullptr;
    DayChart* chart_ = nullptr;
    QLabel* saved_ = nullptr;
    QLabel* wait_ = nullptr;
    QLabel* corrections_ = nullptr;
    QTreeWidget* apps_ = nullptr;
    RankLadder* ladder_ = nullptr;
};
