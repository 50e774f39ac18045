#pragma once

#include "platform/Scheduler.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

// Time that moves only when the test says so.
class ManualScheduler : public Scheduler {
  public:
    double now = 0;
    // Told each new time before the work due then runs, so other clocks can keep step.
    std::function<void(double)> moved = [](double) {};

    void after(double seconds, std::function<void()> work) override {
        tasks_.push_back({now + seconds, next_++, 0, std::move(work), std::nullopt});
    }

    std::unique_ptr<Timer> start(double seconds, bool repeats,
                                 std::function<void()> work) override {
        auto alive = std::make_shared<int>(0);
        tasks_.push_back({now + seconds, next_++, repeats ? seconds : 0, std::move(work), alive});
        return std::make_unique<Handle>(std::move(alive));
    }

    // Runs everything due up to `time`, in time order.
    void advanceTo(double time) {
        while (true) {
            std::erase_if(tasks_, [](const Task& task) { return task.stopped(); });
            const auto due = std::min_element(tasks_.begin(), tasks_.end(), [](auto& a, auto& b) {
                return a.at != b.at ? a.at < b.at : a.order < b.order;
            });
            if (due == tasks_.end() || due->at > time + 1e-9) {
                break;
            }
            Task task = std::move(*due);
            tasks_.erase(due);
            now = task.at;
            moved(now);
            if (task.every > 0) {
                tasks_.push_back(
                    {task.at + task.every, next_++, task.every, task.work, task.alive});
            }
            task.work();
        }
        now = time;
        moved(now);
    }
    void advanceBy(double seconds) { advanceTo(now + seconds); }

    std::size_t pending() const {
        return static_cast<std::size_t>(std::count_if(tasks_.begin(), tasks_.end(),
                                                      [](const Task& t) { return !t.stopped(); }));
    }

  private:
    struct Task {
        double at;
        int order;
        double every; // 0 for a single run
        std::function<void()> work;
        std::optional<std::weak_ptr<int>> alive; // nothing for `after`, which cannot be stopped

        bool stopped() const { return alive && alive->expired(); }
    };
    struct Handle : Timer {
        explicit Handle(std::shared_ptr<int> alive) : alive(std::move(alive)) {}
        std::shared_ptr<int> alive;
    };
    std::vector<Task> tasks_;
    int next_ = 0;
};
