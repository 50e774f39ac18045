#include "connector/ConnectorServer.h"

#include "Connector.h"
#include "HistoryFile.h"
#include "JSONFile.h"
#include "LineReader.h"
#include "Retention.h"
#include "config/Settings.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>
#include <unistd.h>

namespace ConnectorServer {

namespace {

// Far above any real request; a longer line is answered as invalid without being kept.
constexpr std::size_t maxLine = std::size_t{4} << 20;

// One whole reply a line, so a reader never sees half of one; false once the client went away.
bool writeLine(std::string line) {
    line += '\n';
    return Files::writeAll(STDOUT_FILENO, line);
}

} // namespace

int run(const Paths& paths) {
    // A client that hangs up ends the loop at the next write, not by a signal.
    std::signal(SIGPIPE, SIG_IGN);
    std::ios::sync_with_stdio(false);
    const auto history = [file = paths.history(), settings = SettingsFile(paths.settings())] {
        auto list = HistoryFile{file}.load();
        std::reverse(list.begin(), list.end());
        return Retentions::keep(settings.get(SettingKeys::retention), std::move(list),
                                std::chrono::system_clock::now());
    };
    const auto notes = [file = paths.notes()] {
        return JSONFile<std::vector<Note>>(file).load().value_or(std::vector<Note>{});
    };
    const Connector connector(history, notes);
    LineReader lines(std::cin, maxLine);
    while (auto line = lines.next()) {
        if (!line->tooLong && line->text.empty()) {
            continue;
        }
        auto reply =
            line->tooLong ? std::optional(Connector::parseError()) : connector.reply(line->text);
        if (reply && !writeLine(std::move(*reply))) {
            break;
        }
    }
    return 0;
}

} // namespace ConnectorServer
