#include "platform/Scheduler.h"

#include <QTimer>
#include <cmath>

namespace {

int milliseconds(double seconds) {
    return static_cast<int>(std::lround(std::max(0.0, seconds) * 1000));
}

class MainLoopTimer final : public Scheduler::Timer {
  public:
    MainLoopTimer(double seconds, bool repeats, std::function<void()> work) : timer_(new QTimer) {
        timer_->setTimerType(Qt::PreciseTimer);
        timer_->setSingleShot(!repeats);
        timer_->setInterval(milliseconds(seconds));
        QObject::connect(timer_, &QTimer::timeout, std::move(work));
        timer_->start();
    }
    // The work often stops its own timer; the QTimer must outlive its timeout signal.
    ~MainLoopTimer() override {
        timer_->stop();
        timer_->disconnect();
        timer_->deleteLater();
    }

  private:
    QTimer* timer_;
};

} // namespace

void MainLoopScheduler::after(double seconds, std::function<void()> work) {
    QTimer::singleShot(milliseconds(seconds), Qt::PreciseTimer, &context_, std::move(work));
}

std::unique_ptr<Scheduler::Timer> MainLoopScheduler::start(double seconds, bool repeats,
                                                           std::function<void()> work) {
    return std::make_unique<MainLoopTimer>(seconds, repeats, std::move(work));
}
