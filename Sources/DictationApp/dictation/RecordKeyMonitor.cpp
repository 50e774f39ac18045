#include "dictation/RecordKeyMonitor.h"

#include "platform/Log.h"

RecordKeyMonitor::RecordKeyMonitor(RecordKeyTarget& target, std::function<HotKey()> currentKey)
    : target_(target), currentKey_(std::move(currentKey)) {}

void RecordKeyMonitor::handle(const KeyEvent& event) {
    // Our own paste chords and typed text are neither the user's activity nor a reason to
    // drop a recording.
    if (event.synthetic) {
        return;
    }
    switch (event.kind) {
    case KeyEvent::Kind::recordKeyDown:
        target_.keyDown();
        return;
    case KeyEvent::Kind::recordKeyUp:
        target_.keyUp();
        return;
    case KeyEvent::Kind::recordToggle:
        target_.toggle();
        return;
    case KeyEvent::Kind::key:
        break;
    }
    // The other record keys are modifiers like any.
    if (const auto* key = std::get_if<HotKey>(&event.key)) {
        if (*key == currentKey_()) {
            event.down ? target_.keyDown() : target_.keyUp();
        }
        return;
    }
    target_.userActed();
    // Holding the key, any other key drops the recording; hands-free, only escape does.
    const auto input = std::get<KeyEvent::Input>(event.key);
    if (input == KeyEvent::Input::escape ||
        (input == KeyEvent::Input::otherKey && !target_.isHandsFree())) {
        target_.cancel();
    }
}

bool RecordKeyMonitor::startListening(KeyListener& listener, const Options& options,
                                      const std::function<void(const std::string&)>& showStatus) {
    if (!listener.isAvailable()) {
        log("key listener unavailable: " + listener.unavailableReason());
        return false;
    }
    listener.start([this](const KeyEvent& event) { handle(event); });
    const HotKey key = currentKey_();
    showStatus(statusText(key));
    log(readyLine(key, options.cleanup));
    return true;
}

std::string RecordKeyMonitor::statusText(HotKey key) {
    return "Hold " + std::string(HotKeys::label(key)) + " to talk";
}

std::string RecordKeyMonitor::readyLine(HotKey key, bool cleanup) {
    std::string line = "ready. hold " + std::string(HotKeys::label(key)) + " to talk";
    if (!cleanup) {
        line += " (raw mode, no cleanup)";
    }
    return line;
}
