#include "config/Autostart.h"

#include "Files.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <unistd.h>

namespace Autostart {

namespace {

// Desktop entry Exec values quote arguments with double quotes and escape ", `, $ and \.
std::string quotedExec(const std::string& path) {
    std::string text = "\"";
    for (char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            text += '\\';
        }
        text += c;
    }
    return text + "\"";
}

} // namespace

std::string entry(const std::string& appName, const std::filesystem::path& executable) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=" +
           appName +
           "\n"
           "Exec=env " +
           marker + "=1 " + quotedExec(executable.string()) +
           "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

void set(const Paths& paths, bool opens) {
    const auto file = paths.autostart();
    if (!opens) {
        if (::unlink(file.c_str()) != 0 && errno != ENOENT) {
            throw FileError("couldn't remove " + file.filename().string() + ": " +
                            std::strerror(errno));
        }
        return;
    }
    Files::replaceAtomically(file, entry(paths.appName(), paths.executable()));
}

void refresh(const Paths& paths) {
    const auto current = Files::readIfPresent(paths.autostart());
    const std::string wanted = entry(paths.appName(), paths.executable());
    if (current && *current != wanted) {
        Files::replaceAtomically(paths.autostart(), wanted);
    }
}

bool launchedAtLogin() {
    const char* value = std::getenv(marker);
    return value && std::string_view(value) == "1";
}

bool isSet(const Paths& paths) {
    return ::access(paths.autostart().c_str(), F_OK) == 0;
}

} // namespace Autostart
