#include "TimingLog.h"

#include "JSONFile.h"
#include "Text.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::string quoted(const std::string& field) {
    std::string text = "\"";
    for (char c : field) {
        text += c;
        if (c == '"') {
            text += '"';
        }
    }
    return text + "\"";
}

void write(const std::filesystem::path& url, int flags, const std::string& bytes) {
    // Mode 0600: the rows name the apps the user dictated into.
    const int fd = ::open(url.c_str(), flags | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) {
        throw FileError("couldn't open " + url.filename().string() + ": " + std::strerror(errno));
    }
    std::string_view rest = bytes;
    while (!rest.empty()) {
        const ssize_t written = ::write(fd, rest.data(), rest.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0) {
            const int code = errno;
            ::close(fd);
            throw FileError("couldn't write " + url.filename().string() + ": " +
                            std::strerror(code));
        }
        rest.remove_prefix(static_cast<std::size_t>(written));
    }
    ::close(fd); // a close error is not worth failing a dictation for
}

} // namespace

const std::string& TimingRecord::csvHeader() {
    static const std::string header = "timestamp,audio_s,words,asr_ms,llm_ms,total_ms,app";
    return header;
}

std::string TimingRecord::csvRow() const {
    return Dates::iso8601(date) + "," + Text::fixed(audioSeconds, 2) + "," + std::to_string(words) +
           "," + std::to_string(asrMs) + "," + std::to_string(llmMs) + "," +
           std::to_string(totalMs) + "," + quoted(app);
}

void TimingLog::append(const TimingRecord& record) const {
    const std::string row = record.csvRow() + "\n";
    // O_EXCL decides "new file" and "existing file" in one step, so two writers never both
    // write the header.
    const int fd = ::open(url.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        write(url, O_APPEND, TimingRecord::csvHeader() + "\n" + row);
        return;
    }
    if (errno != EEXIST) {
        throw FileError("couldn't create " + url.filename().string() + ": " + std::strerror(errno));
    }
    write(url, O_APPEND, row);
}
