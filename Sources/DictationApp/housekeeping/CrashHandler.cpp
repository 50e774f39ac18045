#include "housekeeping/CrashHandler.h"

#include "Files.h"
#include "platform/Log.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <cxxabi.h>
#include <exception>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace {

// Everything the handler needs is ready in fixed storage before any crash: inside the handler
// only async-signal-safe calls are made and nothing is allocated.
char folder[4096];
char appName[128];
char version[64];
char exceptionType[256];
std::atomic<bool> crashing{false};
alignas(16) char alternateStack[64 * 1024];

constexpr int fatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};

void copy(char* to, std::size_t size, std::string_view from) {
    const std::size_t length = std::min(size - 1, from.size());
    std::memcpy(to, from.data(), length);
    to[length] = '\0';
}

// A line being put together in fixed storage.
class Line {
  public:
    Line& add(const char* text) {
        while (*text && used_ < sizeof text_) {
            text_[used_++] = *text++;
        }
        return *this;
    }
    Line& number(std::int64_t value, int width = 0, int base = 10) {
        char digits[24];
        int count = 0;
        const bool negative = value < 0;
        std::uint64_t rest =
            negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
        do {
            const auto digit = static_cast<int>(rest % static_cast<std::uint64_t>(base));
            digits[count++] = static_cast<char>(digit < 10 ? '0' + digit : 'a' + digit - 10);
            rest /= static_cast<std::uint64_t>(base);
        } while (rest > 0 && count < 24);
        while (count < width && count < 24) {
            digits[count++] = '0';
        }
        if (negative) {
            add("-");
        }
        while (count > 0 && used_ < sizeof text_) {
            text_[used_++] = digits[--count];
        }
        return *this;
    }
    void writeTo(int fd) const { Files::writeAll(fd, {text_, used_}); }
    const char* terminated() {
        text_[std::min(used_, sizeof text_ - 1)] = '\0';
        return text_;
    }

  private:
    char text_[1024];
    std::size_t used_ = 0;
};

struct Civil {
    std::int64_t year;
    int month, day, hour, minute, second;
};

// The UTC calendar date of a moment, without the C library (gmtime is not signal-safe).
Civil civil(std::int64_t seconds) {
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shifted = (5 * dayOfYear + 2) / 153;
    const int day = static_cast<int>(dayOfYear - (153 * shifted + 2) / 5 + 1);
    const int month = static_cast<int>(shifted < 10 ? shifted + 3 : shifted - 9);
    return {yearOfEra + era * 400 + (month <= 2 ? 1 : 0),
            month,
            day,
            static_cast<int>(rest / 3600),
            static_cast<int>(rest / 60 % 60),
            static_cast<int>(rest % 60)};
}

void stamp(Line& line, std::int64_t seconds, bool forName) {
    const Civil date = civil(seconds);
    line.number(date.year, 4).add("-").number(date.month, 2).add("-").number(date.day, 2);
    line.add(forName ? "-" : " ").number(date.hour, 2);
    if (!forName) {
        line.add(":");
    }
    line.number(date.minute, 2);
    if (!forName) {
        line.add(":");
    }
    line.number(date.second, 2);
    if (!forName) {
        line.add(" UTC");
    }
}

const char* signalName(int number) {
    switch (number) {
    case SIGSEGV:
        return "SIGSEGV";
    case SIGBUS:
        return "SIGBUS";
    case SIGILL:
        return "SIGILL";
    case SIGFPE:
        return "SIGFPE";
    case SIGABRT:
        return "SIGABRT";
    }
    return "signal";
}

// Copies a small file (a /proc entry) to `fd`, keeping only the lines `keep` accepts.
template <typename Keep> void copyLines(const char* path, int fd, Keep keep) {
    const int in = ::open(path, O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        return;
    }
    char chunk[4096];
    char line[1024];
    std::size_t used = 0;
    ssize_t got;
    while ((got = Files::readSome(in, chunk, sizeof chunk)) > 0) {
        for (ssize_t i = 0; i < got; ++i) {
            if (chunk[i] != '\n') {
                if (used < sizeof line - 1) {
                    line[used++] = chunk[i];
                }
                continue;
            }
            line[used] = '\0';
            if (keep(line, used)) {
                line[used] = '\n';
                Files::writeAll(fd, {line, used + 1});
            }
            used = 0;
        }
    }
    ::close(in);
}

// The code the process runs: executable mappings of files.
bool isLibrary(const char* line, std::size_t length) {
    const char* permissions = std::strchr(line, ' ');
    return permissions && permissions[1] == 'r' && permissions[3] == 'x' &&
           std::memchr(line, '/', length) != nullptr;
}

// The longest report path a Line holds: "<folder>/<app>-YYYY-MM-DD-HHMMSS-99.ips" and its end.
constexpr std::size_t longestPath = 1023;

int openReport() {
    // A folder too long to name a report in (refused at install) gets nothing at all.
    if (folder[0] == '\0') {
        return -1;
    }
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    for (int attempt = 1; attempt < 100; ++attempt) {
        Line path;
        path.add(folder).add("/").add(appName).add("-");
        stamp(path, now.tv_sec, true);
        if (attempt > 1) {
            path.add("-").number(attempt);
        }
        path.add(".ips");
        const int fd =
            ::open(path.terminated(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

void writeReport(int number, const siginfo_t* info) {
    const int fd = openReport();
    if (fd < 0) {
        return;
    }
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    Line header;
    header.add("Process: ").add(appName).add("\nVersion: ").add(version);
    header.add("\nSignal: ").number(number).add(" (").add(signalName(number)).add(")");
    if (info && (number == SIGSEGV || number == SIGBUS || number == SIGILL || number == SIGFPE)) {
        header.add("\nFault address: 0x")
            .number(static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(info->si_addr)), 0,
                    16);
    }
    if (exceptionType[0] != '\0') {
        header.add("\nUncaught exception: ").add(exceptionType);
    }
    header.add("\nTime: ");
    stamp(header, now.tv_sec, false);
    header.add("\nProcess id: ").number(::getpid());
    header.add("\nThread: ").number(static_cast<std::int64_t>(::syscall(SYS_gettid))).add(" ");
    header.writeTo(fd);
    copyLines("/proc/thread-self/comm", fd, [](const char*, std::size_t) { return true; });

    Line backtraceHeading;
    backtraceHeading.add("\nBacktrace:\n");
    backtraceHeading.writeTo(fd);
    void* frames[64];
    const int count = ::backtrace(frames, 64);
    ::backtrace_symbols_fd(frames, count, fd);

    Line librariesHeading;
    librariesHeading.add("\nLoaded libraries:\n");
    librariesHeading.writeTo(fd);
    copyLines("/proc/self/maps", fd, isLibrary);
    ::fsync(fd);
    ::close(fd);
}

void onSignal(int number, siginfo_t* info, void*) {
    // One report a crash: a second thread crashing meanwhile goes straight to the default.
    if (!crashing.exchange(true)) {
        writeReport(number, info);
    }
    // SA_RESETHAND put the default action back; it runs once this handler returns.
    ::raise(number);
}

void onTerminate() {
    // Only the exception's type: its message might quote anything.
    if (const std::type_info* type = abi::__cxa_current_exception_type()) {
        int status = 0;
        char* readable = abi::__cxa_demangle(type->name(), nullptr, nullptr, &status);
        copy(exceptionType, sizeof exceptionType,
             status == 0 && readable ? readable : type->name());
        std::free(readable);
    } else {
        copy(exceptionType, sizeof exceptionType, "terminate without an exception");
    }
    std::abort();
}

} // namespace

std::string CrashHandler::reportName(std::string_view app, std::int64_t unixSeconds) {
    Line name;
    name.add(std::string(app).c_str()).add("-");
    stamp(name, unixSeconds, true);
    name.add(".ips");
    return name.terminated();
}

void CrashHandler::install(const std::filesystem::path& crashes, std::string_view app,
                           std::string_view appVersion) {
    try {
        Files::createPrivateFolder(crashes);
    } catch (const std::exception& error) {
        log(std::string("crash reports: ") + error.what());
    }
    copy(appName, sizeof appName, app);
    // A path cut short would put the report somewhere else entirely (the folder's parent,
    // under a piece of its name): past what fits, no report is written.
    const std::string longest =
        crashes.string() + "/" + std::string(appName) + "-2026-12-09-061234-99.ips";
    if (longest.size() > longestPath) {
        log("crash reports: the folder's path is too long, no reports will be written");
        folder[0] = '\0';
    } else {
        copy(folder, sizeof folder, crashes.string());
    }
    copy(version, sizeof version, appVersion);
    // The first backtrace loads the unwinder, which allocates: never inside the handler.
    void* frame[1];
    ::backtrace(frame, 1);

    // A stack overflow leaves no stack to run the handler on.
    stack_t stack{};
    stack.ss_sp = alternateStack;
    stack.ss_size = sizeof alternateStack;
    ::sigaltstack(&stack, nullptr);

    struct sigaction action {};
    action.sa_sigaction = onSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (const int number : fatalSignals) {
        ::sigaction(number, &action, nullptr);
    }
    std::set_terminate(onTerminate);
}
