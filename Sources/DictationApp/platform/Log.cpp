#include "platform/Log.h"

#include "Dates.h"
#include "platform/Paths.h"
#include "platform/SerialQueue.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

SerialQueue& logQueue() {
    static SerialQueue queue("app.log");
    return queue;
}

void writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

} // namespace

void log(std::string_view message) {
    // One write call per line, so lines from several threads do not interleave.
    std::string line = "[" + Paths::appName() + "] ";
    line += message;
    line += '\n';
    writeAll(STDERR_FILENO, line);
    if (Paths::isApp()) {
        LogFile::write(message);
    }
}

void LogFile::write(std::string_view message) {
    std::string line = Dates::iso8601(std::chrono::system_clock::now()) + " ";
    line += message;
    line += '\n';
    logQueue().async([file = Paths::log(), line = std::move(line)] { appendLine(file, line); });
}

void LogFile::flush() {
    logQueue().drain();
}

void LogFile::appendLine(const std::filesystem::path& file, std::string_view line) {
    struct stat info {};
    const bool keep = ::stat(file.c_str(), &info) == 0 && info.st_size >= 1 &&
                      static_cast<std::uintmax_t>(info.st_size) <= sizeLimit;
    if (!keep) {
        std::error_code ignored;
        std::filesystem::create_directories(file.parent_path(), ignored);
        const int fresh = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fresh < 0) {
            return;
        }
        ::fchmod(fresh, 0600);
        ::close(fresh);
    }
    const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    writeAll(fd, line);
    ::close(fd);
}
