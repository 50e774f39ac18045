#include "HotKey.h"

namespace HotKeys {

namespace {

struct Row {
    HotKey key;
    std::string_view raw;
    std::string_view label;
};

constexpr std::array<Row, 4> rows{{
    {HotKey::fn, "fn", "fn"},
    {HotKey::rightOption, "right-option", "right Alt"},
    {HotKey::rightCommand, "right-command", "right Super"},
    {HotKey::rightControl, "right-control", "right Ctrl"},
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

std::optional<HotKey> fromRawValue(std::string_view raw) {
    for (const auto& r : rows) {
        if (r.raw == raw) {
            return r.key;
        }
    }
    return std::nullopt;
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
