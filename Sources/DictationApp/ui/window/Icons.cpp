#include "ui/window/Icons.h"

#include <QString>
#include <array>
#include <utility>

// The drawings live in a static library: bring its resources in before the first use.
static void loadOwnIcons() {
    Q_INIT_RESOURCE(icons);
}

namespace {

constexpr std::array<std::pair<std::string_view, std::string_view>, 15> themeNames{{
    {"gearshape", "preferences-system"},
    {"sun.max", "weather-clear"},
    {"moon", "weather-clear-night"},
    {"doc.on.doc", "edit-copy"},
    {"pencil", "document-edit"},
    {"trash", "edit-delete"},
    {"speaker.slash", "audio-volume-muted"},
    {"checkmark.seal.fill", "emblem-ok"},
    {"lock", "changes-prevent"},
    {"square.and.pencil", "document-new"},
    {"xmark", "window-close"},
    {"mic", "audio-input-microphone"},
    {"mic.fill", ""}, // our red microphone: no theme has it
    {"lock.fill", "security-high"},
    {"warning", "dialog-warning"},
}};

} // namespace

std::string_view Icons::themeName(std::string_view symbol) {
    for (const auto& [name, theme] : themeNames) {
        if (name == symbol) {
            return theme;
        }
    }
    return {};
}

QIcon Icons::symbol(std::string_view name) {
    static const bool loaded = (loadOwnIcons(), true);
    (void)loaded;
    const QString own = QStringLiteral(":/icons/") +
                        QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())) +
                        QStringLiteral(".svg");
    const std::string_view theme = themeName(name);
    if (theme.empty()) {
        return QIcon(own);
    }
    return QIcon::fromTheme(QString::fromUtf8(theme.data(), static_cast<qsizetype>(theme.size())),
                            QIcon(own));
}

QIcon Icons::tray(bool recording) {
    if (recording) {
        return symbol("mic.fill");
    }
    // The symbolic drawing takes the panel's own colours where the theme has one.
    return QIcon::fromTheme(QStringLiteral("audio-input-microphone-symbolic"), symbol("mic"));
}
