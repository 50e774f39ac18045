#include "desktop/HeldModifiers.h"

std::optional<KeyEvent> HeldModifiers::press(unsigned keycode, Modifier modifier, bool synthetic) {
    down_[keycode] = modifier;
    return KeyEvent{KeyEvent::Kind::flagsChanged, modifier.code, flags(), synthetic};
}

std::optional<KeyEvent> HeldModifiers::release(unsigned keycode, Modifier modifier,
                                               bool synthetic) {
    if (down_.erase(keycode) == 0) {
        return std::nullopt;
    }
    return KeyEvent{KeyEvent::Kind::flagsChanged, modifier.code, flags(), synthetic};
}

std::uint64_t HeldModifiers::flags() const {
    std::uint64_t all = 0;
    for (const auto& [keycode, modifier] : down_) {
        all |= modifier.flag;
    }
    return all;
}

bool HeldModifiers::holds(const std::function<bool(std::uint64_t)>& isRecordFlag) const {
    for (const auto& [keycode, modifier] : down_) {
        if (isRecordFlag(modifier.flag)) {
            return true;
        }
    }
    return false;
}

std::vector<KeyEvent> HeldModifiers::reconcile(const std::function<bool(unsigned)>& isDown) {
    std::vector<KeyEvent> released;
    for (auto it = down_.begin(); it != down_.end();) {
        if (isDown(it->first)) {
            ++it;
            continue;
        }
        const Modifier modifier = it->second;
        it = down_.erase(it);
        released.push_back({KeyEvent::Kind::flagsChanged, modifier.code, flags(), false});
    }
    return released;
}
