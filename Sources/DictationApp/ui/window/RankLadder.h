#pragma once

#include "Totals.h"

#include <QWidget>
#include <array>
#include <cstdint>

class QLabel;

// The six ranks in order, each marked reached or locked for the all-time words, with the
// count from which it applies.
class RankLadder : public QWidget {
    Q_OBJECT
  public:
    explicit RankLadder(QWidget* parent = nullptr);

    void setWords(std::int64_t words);

    // "Start" for the first rank, else the threshold in the locale's short notation.
    static QString threshold(Rank rank);

  private:
    std::array<QLabel*, Ranks::allCases.size()> marks_{};
};
