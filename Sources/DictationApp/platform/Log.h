#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// Writes "[<app name>] <message>" to standard error at once and, in app mode, a time-stamped
// line to log.txt through the "app.log" queue. Callable from any thread; never fails.
// Messages are lower-case technical phrases and never hold what the user said.
void log(std::string_view message);

// The file half of `log`.
class LogFile {
  public:
    static constexpr std::uintmax_t sizeLimit = 500'000;

    // Queues one message for the app's log file.
    static void write(std::string_view message);
    // Blocks until every queued line is written (for orderly exits and tests).
    static void flush();

    // Appends one line to `file`, starting a fresh file (mode 0600) when there is none, it is
    // empty, or it has grown past `sizeLimit`. Every error is swallowed and the line dropped.
    static void appendLine(const std::filesystem::path& file, std::string_view line);
};
