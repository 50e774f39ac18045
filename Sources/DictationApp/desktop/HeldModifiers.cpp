#include "desktop/HeldModifiers.h"

#include <algorithm>

std::optional<KeyEvent> HeldModifiers::event(unsigned code, bool press,
                                             std::optional<KeyEvent::Key> key, bool synthetic) {
    if (!press) {
        const auto held = down_.find(code);
        if (held == down_.end()) {
            return std::nullopt;
        }
        const HotKey released = held->second;
        down_.erase(held);
        return changed(released, synthetic);
    }
    if (!key) {
        return std::nullopt;
    }
    if (const auto* record = std::get_if<HotKey>(&*key)) {
        down_[code] = *record;
        return changed(*record, synthetic);
    }
    return KeyEvent{.key = *key, .synthetic = synthetic};
}

KeyEvent HeldModifiers::changed(HotKey key, bool synthetic) const {
    const bool down =
        std::ranges::any_of(down_, [&](const auto& held) { return held.second == key; });
    return {.key = key, .down = down, .synthetic = synthetic};
}

std::vector<KeyEvent> HeldModifiers::reconcile(const std::function<bool(unsigned)>& isDown) {
    std::vector<KeyEvent> released;
    for (auto it = down_.begin(); it != down_.end();) {
        if (isDown(it->first)) {
            ++it;
            continue;
        }
        const HotKey key = it->second;
        it = down_.erase(it);
        released.push_back(changed(key, false));
    }
    return released;
}
