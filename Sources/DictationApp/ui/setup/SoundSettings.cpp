#include "ui/setup/SoundSettings.h"

#include "platform/Log.h"

#include <QProcess>
#include <QStandardPaths>
#include <array>

namespace SoundSettings {

std::optional<Command> find() {
    struct Known {
        const char* program;
        const char* argument;
    };
    constexpr std::array<Known, 3> known{{
        {"gnome-control-center", "sound"},
        {"systemsettings", "kcm_pulseaudio"},
        {"pavucontrol", nullptr},
    }};
    for (const Known& candidate : known) {
        const QString path = QStandardPaths::findExecutable(QString::fromUtf8(candidate.program));
        if (!path.isEmpty()) {
            QStringList arguments;
            if (candidate.argument) {
                arguments << QString::fromUtf8(candidate.argument);
            }
            return Command{path, arguments};
        }
    }
    return std::nullopt;
}

bool open() {
    const std::optional<Command> command = find();
    if (!command) {
        return false;
    }
    if (!QProcess::startDetached(command->program, command->arguments)) {
        log("could not open the sound settings: " + command->program.toStdString());
        return false;
    }
    return true;
}

} // namespace SoundSettings
