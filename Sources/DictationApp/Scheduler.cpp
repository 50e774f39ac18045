#include "Scheduler.h"

#include <QTimer>
#include <cmath>

void MainLoopScheduler::after(double seconds, std::function<void()> work) {
    const int ms = static_cast<int>(std::lround(std::max(0.0, seconds) * 1000));
    QTimer::singleShot(ms, Qt::PreciseTimer, &context_, std::move(work));
}
