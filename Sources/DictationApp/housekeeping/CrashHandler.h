#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

// The program's own crash reports. On a fatal signal (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT)
// or an uncaught exception the handler writes one text file "<app>-<UTC time>.ips" (mode 0600)
// into the crashes folder: the app and version, the signal, the time, the thread, a backtrace
// and the loaded libraries. It writes nothing of the program's data, so a report never holds
// what the user said or kept. Then the default action runs, and the system sees the crash too.
namespace CrashHandler {

// Installs the handler for this process; once, early, from the main thread. The folder is
// made (0700) now, because nothing may allocate once a crash has happened.
void install(const std::filesystem::path& folder, std::string_view appName,
             std::string_view version);

// "<app>-2026-12-09-061234.ips" for that moment (seconds since 1970, UTC): names sort by time.
std::string reportName(std::string_view appName, std::int64_t unixSeconds);

} // namespace CrashHandler
