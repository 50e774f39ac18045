#include "desktop/KeyListeners.h"

#include <algorithm>

void KeyListeners::add(std::unique_ptr<KeyListener> listener) {
    if (listener) {
        listeners_.push_back(std::move(listener));
    }
}

bool KeyListeners::isAvailable() const {
    return std::any_of(listeners_.begin(), listeners_.end(),
                       [](const auto& listener) { return listener->isAvailable(); });
}

std::string KeyListeners::unavailableReason() const {
    std::string reasons;
    for (const auto& listener : listeners_) {
        if (!listener->isAvailable()) {
            reasons += (reasons.empty() ? "" : "; ") + listener->unavailableReason();
        }
    }
    return reasons.empty() && listeners_.empty() ? "no way to hear the record key" : reasons;
}

void KeyListeners::start(std::function<void(const KeyEvent&)> sink) {
    for (const auto& listener : listeners_) {
        if (listener->isAvailable()) {
            listener->start(sink);
        }
    }
}
