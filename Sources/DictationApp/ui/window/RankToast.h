#pragma once

#include "platform/Scheduler.h"
#include "ui/window/AppState.h"

#include <QLabel>
#include <memory>

// "You're a <rank> now" over the window while the history has a new rank, cleared four seconds
// after it first shows. A rank reached while the window is hidden waits for the window.
class RankToast : public QLabel {
    Q_OBJECT
  public:
    static constexpr double seconds = 4;

    RankToast(HistoryStore& history, Scheduler& scheduler, QWidget* window);

    // The window came up: a rank waiting for it shows now.
    void windowShown();
    // Keeps it centred at the top of the window.
    void place();

  private:
    void update();

    HistoryStore& history_;
    Scheduler& scheduler_;
    std::unique_ptr<Scheduler::Timer> timer_;
};
