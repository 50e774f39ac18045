#pragma once

#include <atomic>
#include <functional>
#include <memory>

// Hands work from a worker thread to the main thread.
using Deliver = std::function<void(std::function<void()>)>;

// Posts to the Qt application's event loop; work posted after the application is gone is
// dropped.
Deliver mainThread();

// Where a main-thread object receives what its workers and timers report. Work that arrives
// after the owner closed it (first thing in its destructor) is dropped, so reports may capture
// the owner's `this`.
class Inbox {
  public:
    explicit Inbox(Deliver deliver = mainThread()) : deliver_(std::move(deliver)) {}
    ~Inbox() { close(); }
    Inbox(const Inbox&) = delete;
    Inbox& operator=(const Inbox&) = delete;

    // For workers, by value: sends work to the main thread, which runs it if the inbox is still
    // open by then.
    Deliver post() const;
    // A main-thread callback (a timer's) that does nothing once the inbox is closed.
    std::function<void()> guard(std::function<void()> work) const;
    void close() { *open_ = false; }

  private:
    Deliver deliver_;
    // Atomic, so a Deliver that runs work on the posting thread is safe too.
    std::shared_ptr<std::atomic<bool>> open_ = std::make_shared<std::atomic<bool>>(true);
};
