#pragma once

#include "HotKey.h"
#include "Options.h"
#include "desktop/KeyListener.h"

#include <functional>
#include <string>

// What the record key drives: the dictation controller.
class RecordKeyTarget {
  public:
    virtual ~RecordKeyTarget() = default;
    virtual void keyDown() = 0;
    virtual void keyUp() = 0;
    // Escape, or another key while the record key is held: discards a running recording.
    virtual void cancel() = 0;
    // A one-shot trigger: starts a hands-free recording, or finishes the running one.
    virtual void toggle() = 0;
    // The user typed or clicked: the next dictation starts afresh (the joiner's).
    virtual void userActed() = 0;
    virtual bool isHandsFree() const = 0;
};

// Turns desktop key and mouse events into the controller's calls.
class RecordKeyMonitor {
  public:
    // `currentKey` is asked on every event, so a newly chosen key counts at once.
    RecordKeyMonitor(RecordKeyTarget& target, std::function<HotKey()> currentKey);

    // Every event from the listener.
    void handle(const KeyEvent& event);

    // Starts `listener` with this monitor as its sink, shows and logs the ready line, and
    // returns true; logs why and returns false when the listener is not available.
    bool startListening(KeyListener& listener, const Options& options,
                        const std::function<void(const std::string&)>& showStatus);

    // "Hold <label> to talk".
    static std::string statusText(HotKey key);
    // "ready. hold <label> to talk", plus " (raw mode, no cleanup)" without cleanup.
    static std::string readyLine(HotKey key, bool cleanup);

  private:
    RecordKeyTarget& target_;
    std::function<HotKey()> currentKey_;
};
