#include "desktop/SyntheticEvents.h"

#include <algorithm>

void SyntheticEvents::expect(unsigned keyCode, bool press, Clock::time_point now) {
    dropExpired(now);
    expected_.push_back({keyCode, press, now});
}

bool SyntheticEvents::claim(unsigned keyCode, bool press, Clock::time_point now) {
    dropExpired(now);
    const auto found = std::find_if(expected_.begin(), expected_.end(), [&](const Entry& e) {
        return e.keyCode == keyCode && e.press == press;
    });
    if (found == expected_.end()) {
        return false;
    }
    expected_.erase(found);
    return true;
}

void SyntheticEvents::dropExpired(Clock::time_point now) {
    while (!expected_.empty() && now - expected_.front().at > lifetime) {
        expected_.pop_front();
    }
}
