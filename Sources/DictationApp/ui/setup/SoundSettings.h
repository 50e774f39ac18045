#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The desktop's sound settings, where one is installed: GNOME's, KDE's or pavucontrol, found on
// the search path in that order.
namespace SoundSettings {

struct Command {
    QString program; // the full path
    QStringList arguments;
};

std::optional<Command> find();
// Starts it apart from us; whether it started.
bool open();

} // namespace SoundSettings
