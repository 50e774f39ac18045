#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class SerialQueue;

// Writes one message to the program's log from any thread; never fails. Messages are lower-case
// technical phrases and never hold what the user said.
void log(std::string_view message);
// "runtime_error" rather than "std::runtime_error" or a mangled name: what a log line says of a
// failure whose message may quote the user's words.
std::string typeName(const std::exception& error);

// The program's log while it lives: "[<app name>] <message>" on standard error at once and,
// with a file, a time-stamped line in that file written on the "app.log" queue in call order.
// main makes one for the run and `log` writes through the newest one alive; without one,
// messages go to standard error as "[Dictation] ...".
class Log {
  public:
    static constexpr std::uintmax_t sizeLimit = 500'000;
    // The longest message a line keeps; the rest is cut off (and the cut marked).
    static constexpr std::size_t maximumLine = 1000;
    // The first maximumLine bytes of `message`, ending before a cut character.
    static std::string_view capped(std::string_view message);

    Log(std::string appName, std::optional<std::filesystem::path> file);
    // Writes what is still queued, then hands `log` back to the log made before this one.
    ~Log();
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    void write(std::string_view message);
    // Blocks until every queued line is in the file.
    void flush();
    // From now on the log in use writes to standard error only, once what is queued is in its
    // file: for when its folder is about to go for good.
    static void leaveFile();

    // Appends one line to `file`, starting a fresh file (mode 0600) when there is none, it is
    // empty, or it has grown past `sizeLimit`. Every error is swallowed and the line dropped.
    static void appendLine(const std::filesystem::path& file, std::string_view line);

  private:
    std::string prefix_;
    std::optional<std::filesystem::path> file_;
    std::unique_ptr<SerialQueue> queue_;
    bool leftFile_ = false; // guarded by the lock `log` writes under
    Log* previous_ = nullptr;
};
