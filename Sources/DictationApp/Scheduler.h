#pragma once

#include <QObject>
#include <functional>

// Work for a later turn of the main loop, so timing rules can be tested without waiting.
class Scheduler {
  public:
    virtual ~Scheduler() = default;
    virtual void after(double seconds, std::function<void()> work) = 0;
};

// Main-loop timers. Work still pending when the scheduler goes is dropped.
class MainLoopScheduler : public Scheduler {
  public:
    void after(double seconds, std::function<void()> work) override;

  private:
    QObject context_;
};
