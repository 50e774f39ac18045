#pragma once

#include <QObject>
#include <functional>
#include <memory>

// Work for a later turn of the main loop, so timing rules can be tested without waiting.
class Scheduler {
  public:
    // A running timer; destroying it stops it.
    class Timer {
      public:
        virtual ~Timer() = default;
    };

    virtual ~Scheduler() = default;
    virtual void after(double seconds, std::function<void()> work) = 0;
    // Runs `work` after `seconds` and, when `repeats`, every `seconds` after that, for as long
    // as the returned timer lives.
    virtual std::unique_ptr<Timer> start(double seconds, bool repeats,
                                         std::function<void()> work) = 0;
};

// Main-loop timers. Work still pending when the scheduler goes is dropped.
class MainLoopScheduler : public Scheduler {
  public:
    void after(double seconds, std::function<void()> work) override;
    std::unique_ptr<Timer> start(double seconds, bool repeats, std::function<void()> work) override;

  private:
    QObject context_;
};
