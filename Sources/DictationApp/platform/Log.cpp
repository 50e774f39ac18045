#include "platform/Log.h"

#include "Dates.h"
#include "Files.h"
#include "platform/SerialQueue.h"

#include <cstdlib>
#include <cxxabi.h>
#include <mutex>
#include <sys/stat.h>
#include <typeinfo>
#include <unistd.h>

namespace {

// The log `log` writes through, guarded so a line logged on a worker while main ends the log
// goes to one or the other, never to a log half destroyed.
std::mutex currentLock;
Log* current = nullptr;

void toStandardError(std::string_view line) {
    (void)Files::writeAll(STDERR_FILENO, line);
}

} // namespace

std::string_view Log::capped(std::string_view message) {
    if (message.size() <= maximumLine) {
        return message;
    }
    // Cut at a character's start, so the line stays valid UTF-8.
    std::size_t end = maximumLine;
    while (end > 0 && (static_cast<unsigned char>(message[end]) & 0xC0) == 0x80) {
        --end;
    }
    return message.substr(0, end);
}

void log(std::string_view whole) {
    // A line never carries a whole file's worth of anything: the cut is marked.
    std::string cut;
    std::string_view message = whole;
    if (whole.size() > Log::maximumLine) {
        cut = std::string(Log::capped(whole)) + " [cut]";
        message = cut;
    }
    std::lock_guard guard(currentLock);
    if (current) {
        current->write(message);
        return;
    }
    std::string line = "[Dictation] ";
    line += message;
    line += '\n';
    toStandardError(line);
}

Log::Log(std::string appName, std::optional<std::filesystem::path> file)
    : prefix_("["), file_(std::move(file)) {
    // Appended piece by piece: GCC 12 warns falsely about chained additions.
    prefix_ += appName;
    prefix_ += "] ";
    if (file_) {
        queue_ = std::make_unique<SerialQueue>("app.log");
    }
    std::lock_guard guard(currentLock);
    previous_ = current;
    current = this;
}

Log::~Log() {
    {
        std::lock_guard guard(currentLock);
        if (current == this) {
            current = previous_;
        }
    }
    queue_.reset(); // runs what is queued, then joins
}

void Log::write(std::string_view message) {
    // One write call per line, so lines from several threads do not interleave.
    std::string line = prefix_;
    line += message;
    line += '\n';
    toStandardError(line);
    if (!queue_ || leftFile_) {
        return;
    }
    std::string stamped = Dates::iso8601(std::chrono::system_clock::now()) + " ";
    stamped += message;
    stamped += '\n';
    queue_->async([file = *file_, line = std::move(stamped)] { appendLine(file, line); });
}

void Log::flush() {
    if (queue_) {
        queue_->drain();
    }
}

void Log::leaveFile() {
    std::lock_guard guard(currentLock);
    if (current) {
        current->leftFile_ = true;
        current->flush();
    }
}

void Log::appendLine(const std::filesystem::path& file, std::string_view line) {
    struct stat info {};
    const bool keep = ::stat(file.c_str(), &info) == 0 && info.st_size >= 1 &&
                      static_cast<std::uintmax_t>(info.st_size) <= sizeLimit;
    try {
        if (!keep) {
            Files::createPrivateFolder(file.parent_path());
            Files::createPrivate(file, Files::Contents::discard);
        }
        Files::appendLine(file, line);
    } catch (const FileError&) {
        // Nowhere to report it: the line still went to standard error.
    }
}

std::string typeName(const std::exception& error) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(
        abi::__cxa_demangle(typeid(error).name(), nullptr, nullptr, &status), std::free);
    std::string name = status == 0 && demangled ? demangled.get() : typeid(error).name();
    const auto colons = name.rfind("::", name.find('<'));
    return colons == std::string::npos ? name : name.substr(colons + 2);
}
