#pragma once

#include <chrono>
#include <deque>

// The keys this program is about to send. X11 delivers synthesised keys exactly like the
// user's own (same device, no marker), so the synthesiser writes down each key event before
// sending it and the listener claims them as they come back. Main thread only.
class SyntheticEvents {
  public:
    using Clock = std::chrono::steady_clock;
    // An expected event that never showed up (the server dropped it) stops matching after
    // this, so it cannot swallow a later key of the user's.
    static constexpr Clock::duration lifetime = std::chrono::seconds(2);

    void expect(unsigned keyCode, bool press, Clock::time_point now = Clock::now());
    // True, forgetting the entry, when the event was expected and is still in time.
    bool claim(unsigned keyCode, bool press, Clock::time_point now = Clock::now());
    std::size_t pending() const { return expected_.size(); }

  private:
    struct Entry {
        unsigned keyCode;
        bool press;
        Clock::time_point at;
    };
    void dropExpired(Clock::time_point now);

    std::deque<Entry> expected_;
};
