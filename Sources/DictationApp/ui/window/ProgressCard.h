#pragma once

#include "Totals.h"
#include "ui/window/AppState.h"

#include <QFrame>
#include <QString>
#include <cstdint>

class QLabel;
class QProgressBar;
class WeekStrip;

// The all-time figures on Home: words, pace and streak, the days talked this week, and the way
// to the next rank.
class ProgressCard : public QFrame {
    Q_OBJECT
  public:
    // The bar's steps: fine enough that 0.75 is exact.
    static constexpr int barSteps = 1000;

    explicit ProgressCard(HistoryStore& history, const Clock& clock, QWidget* parent = nullptr);

    // From the current rank's threshold to the next one's, 0 to 1; 1 at the top rank.
    static double fraction(std::int64_t words);
    // "500 words to Songbird", or "The top rank".
    static QString caption(std::int64_t words);

    // Reads the totals again; the streak and the week also move with the date.
    void refresh();

  private:
    HistoryStore& history_;
    const Clock& clock_;
    QLabel* words_ = nullptr;
    QLabel* pace_ = nullptr;
    QLabel* streak_ = nullptr;
    WeekStrip* week_ = nullptr;
    QLabel* rank_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QLabel* caption_ = nullptr;
};
