#include "connector/ConnectorServer.h"

#include "Connector.h"
#include "HistoryFile.h"
#include "JSONFile.h"
#include "platform/Paths.h"
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

std::vector<Dictation> history() {
    auto list = HistoryFile{Paths::history()}.load();
    std::reverse(list.begin(), list.end());
    return Retentions::keep(Settings::retention(), std::move(list),
                            std::chrono::system_clock::now());
}

std::vector<Note> notes() {
    return JSONFile<std::vector<Note>>(Paths::notes()).load().value_or(std::vector<Note>{});
}

// One write per reply, so a reader never sees half a line.
void writeLine(std::string line) {
    line += '\n';
    if (!Files::writeAll(STDOUT_FILENO, line)) {
        std::exit(0); // the client went away
    }
}

} // namespace

void run() {
    // A client that hangs up ends the loop at the next write, not by a signal.
    std::signal(SIGPIPE, SIG_IGN);
    std::ios::sync_with_stdio(false);
    const Connector connector(history, notes);
    for (std::string line; std::getline(std::cin, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty()) {
            continue;
        }
        if (auto reply = connector.reply(line)) {
            writeLine(std::move(*reply));
        }
    }
    std::exit(0);
}

} // namespace ConnectorServer
