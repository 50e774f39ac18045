#include "HotKey.h"

namespace HotKeys {

namespace {

struct Row {
    HotKey key;
    std::string_view raw;
    std::string_view label;
    std::uint16_t code;
    std::uint64_t flag;
};

constexpr std::array<Row, 4> rows{{
    {HotKey::fn, "fn", "fn", 63, 0x800000},
    {HotKey::rightOption, "right-option", "right Alt", 61, 0x40},
    {HotKey::rightCommand, "right-command", "right Super", 54, 0x10},
    {HotKey::rightControl, "right-control", "right Ctrl", 62, 0x2000},
}};

const Row& row(HotKey key) {
    return rows[static_cast<std::size_t>(key)];
}

} // namespace

std::string_view rawValue(HotKey key) {
    return row(key).raw;
}
std::string_view label(HotKey key) {
    return row(key).label;
}
std::uint16_t keyCode(HotKey key) {
    return row(key).code;
}
std::uint64_t flag(HotKey key) {
    return row(key).flag;
}

std::optional<HotKey> fromRawValue(std::string_view raw) {
    for (const auto& r : rows) {
        if (r.raw == raw) {
            return r.key;
        }
    }
    return std::nullopt;
}

std::optional<bool> isPressed(HotKey key, std::uint16_t code, std::uint64_t flags) {
    if (code != row(key).code) {
        return std::nullopt;
    }
    return (flags & row(key).flag) != 0;
}

const std::string& spokenList() {
    static const std::string list = [] {
        std::string text;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (i > 0) {
                text += i + 1 == rows.size() ? " or " : ", ";
            }
            text += rows[i].raw;
        }
        return text;
    }();
    return list;
}

} // namespace HotKeys
