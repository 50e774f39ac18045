#pragma once

#include "platform/MainThread.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

// The main thread of a test without an event loop: workers post here and the test runs what
// they posted on its own thread when it says so. Outlive whatever posts to it.
class PostedWork {
  public:
    Deliver deliver() {
        return [this](std::function<void()> work) {
            std::lock_guard lock(mutex_);
            work_.push_back(std::move(work));
            wake_.notify_all();
        };
    }

    // Runs posted work, waiting for more, until `done` holds or `seconds` pass.
    bool runUntil(const std::function<bool()>& done, double seconds) {
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                  std::chrono::duration<double>(seconds));
        while (!done()) {
            std::unique_lock lock(mutex_);
            if (!wake_.wait_until(lock, deadline, [this] { return !work_.empty(); })) {
                return done();
            }
            auto work = std::move(work_.front());
            work_.pop_front();
            lock.unlock();
            work();
        }
        return true;
    }

    // Runs what was posted so far, without waiting.
    void runPending() {
        std::unique_lock lock(mutex_);
        std::deque<std::function<void()>> pending;
        pending.swap(work_);
        lock.unlock();
        for (auto& work : pending) {
            work();
        }
    }

  private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> work_;
};
