#include "ui/window/Appearance.h"

#include "ui/window/EdgeStyle.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QPalette>
#include <QStyle>

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearanceGroup = QStringLiteral("org.freedesktop.appearance");
const QString schemeKey = QStringLiteral("color-scheme");

// 1 prefers dark, 2 prefers light, 0 says nothing. Read wraps the value in one more variant.
std::optional<bool> fromScheme(QVariant value) {
    while (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>()) {
        value = value.value<QDBusVariant>().variant();
    }
    bool ok = false;
    const uint scheme = value.toUInt(&ok);
    if (!ok || scheme == 0 || scheme > 2) {
        return std::nullopt;
    }
    return scheme == 1;
}

QPalette darkPalette() {
    QPalette palette;
    const QColor window(0x24, 0x24, 0x27);
    const QColor base(0x1b, 0x1b, 0x1e);
    const QColor text(0xee, 0xee, 0xf0);
    const QColor muted(0x90, 0x90, 0x96); // 4.5:1 on the window, as text must be
    const QColor accent(0x4f, 0x8c, 0xf7);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::ToolTipBase, base);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, muted);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(0x31, 0x31, 0x35));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, Qt::white);
    palette.setColor(QPalette::Highlight, accent);
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Link, accent);
    // Edges: 3:1 or more against the window and the fields (see EdgeStyle).
    palette.setColor(QPalette::Mid, QColor(0x80, 0x80, 0x88));
    palette.setColor(QPalette::Disabled, QPalette::Text, muted);
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, muted);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, muted);
    return palette;
}

QPalette lightPalette() {
    QPalette palette = QApplication::style()->standardPalette();
    // Fusion's light Mid is too faint for an edge on white (about 1.5:1).
    palette.setColor(QPalette::Mid, QColor(0x76, 0x76, 0x80));
    return palette;
}

bool platformPaletteIsDark() {
    const QPalette palette = QApplication::style()->standardPalette();
    return palette.color(QPalette::Window).lightness() < 128;
}

} // namespace

Appearance::Appearance(QObject* parent) : QObject(parent) {
    QDBusConnection::sessionBus().connect(portalService, portalPath, settingsInterface,
                                          QStringLiteral("SettingChanged"), this,
                                          SLOT(settingChanged(QString, QString, QDBusVariant)));
}

std::optional<bool> Appearance::systemPrefersDark() {
    QDBusMessage call = QDBusMessage::createMethodCall(portalService, portalPath, settingsInterface,
                                                       QStringLiteral("Read"));
    call << appearanceGroup << schemeKey;
    // A portal that is not there must not hold up the window.
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 500);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return std::nullopt;
    }
    return fromScheme(reply.arguments().front());
}

bool Appearance::systemPrefersLessMotion() {
    QDBusMessage call = QDBusMessage::createMethodCall(portalService, portalPath, settingsInterface,
                                                       QStringLiteral("Read"));
    call << QStringLiteral("org.gnome.desktop.interface") << QStringLiteral("enable-animations");
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 500);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return false;
    }
    QVariant value = reply.arguments().front();
    while (value.userType() == qMetaTypeId<QDBusVariant>()) {
        value = value.value<QDBusVariant>().variant();
    }
    return value.typeId() == QMetaType::Bool && !value.toBool();
}

void Appearance::apply(Look look) {
    look_ = look;
    switch (look) {
    case Look::light:
        setDark(false);
        break;
    case Look::dark:
        setDark(true);
        break;
    case Look::matchSystem:
        setDark(systemPrefersDark().value_or(platformPaletteIsDark()));
        break;
    }
}

void Appearance::settingChanged(const QString& group, const QString& key,
                                const QDBusVariant& value) {
    if (look_ != Look::matchSystem || group != appearanceGroup || key != schemeKey) {
        return;
    }
    setDark(fromScheme(value.variant()).value_or(platformPaletteIsDark()));
    emit changed();
}

void Appearance::setDark(bool dark) {
    isDark_ = dark;
    EdgeStyle::install();
    QApplication::setPalette(dark ? darkPalette() : lightPalette());
}
