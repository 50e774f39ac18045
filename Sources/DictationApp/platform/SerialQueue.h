#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

// One worker thread running submitted work in submission order. Work gets values, never
// references to the submitter's state. Destruction runs what is still queued, then joins.
class SerialQueue {
  public:
    explicit SerialQueue(std::string label);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const { return label_; }
    void async(std::function<void()> work);
    // Blocks until everything submitted before this call has run.
    void drain();

  private:
    void loop();

    std::string label_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<std::function<void()>> work_;
    bool busy_ = false;
    bool stopping_ = false;
    std::thread worker_;
};
