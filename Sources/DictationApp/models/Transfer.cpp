#include "models/Transfer.h"

#include "Files.h"
#include "models/ModelAddress.h"
#include "platform/WebRequest.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <curl/curl.h>
#include <limits>
#include <memory>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Kind = Transfer::Outcome::Kind;

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// The first byte of "Content-Range: bytes <first>-<last>/<size>".
std::optional<curl_off_t> rangeStart(std::string_view line) {
    const auto colon = line.find(':');
    if (colon == std::string_view::npos ||
        !equalsIgnoringCase(line.substr(0, colon), "content-range")) {
        return std::nullopt;
    }
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && value.front() == ' ') {
        value.remove_prefix(1);
    }
    if (!value.starts_with("bytes ")) {
        return std::nullopt;
    }
    value.remove_prefix(6);
    curl_off_t first = -1;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), first);
    if (error != std::errc() || end == value.data() + value.size() || *end != '-') {
        return std::nullopt;
    }
    return first;
}

// One request and what came of it. The body goes to the file only once the status says it is
// the file (or the rest of it).
class Request {
  public:
    Request(CURL* handle, int fd, curl_off_t offset, curl_off_t maximum,
            const std::function<void(int)>& progress, const std::atomic<bool>& stop)
        : handle_(handle), fd_(fd), offset_(offset), maximum_(maximum), progress_(progress),
          stop_(stop) {}

    CURLcode perform(const std::string& address, const Transfer::Limits& limits) {
        WebRequest::prepare(handle_, address, limits.connectSeconds, error_);
        curl_easy_setopt(handle_, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(handle_, CURLOPT_LOW_SPEED_TIME, limits.stallSeconds);
        curl_easy_setopt(handle_, CURLOPT_BUFFERSIZE, 256L * 1024);
        curl_easy_setopt(handle_, CURLOPT_HEADERFUNCTION, &Request::onHeader);
        curl_easy_setopt(handle_, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, &Request::onBody);
        curl_easy_setopt(handle_, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(handle_, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(handle_, CURLOPT_XFERINFOFUNCTION, &Request::onTick);
        curl_easy_setopt(handle_, CURLOPT_XFERINFODATA, this);
        const std::string range = std::to_string(offset_) + "-";
        if (offset_ > 0) {
            curl_easy_setopt(handle_, CURLOPT_RANGE, range.c_str());
        }
        error_[0] = '\0';
        return curl_easy_perform(handle_);
    }

    long status() const {
        long code = 0;
        curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &code);
        return code;
    }
    std::string error(CURLcode code) const {
        return error_[0] != '\0' ? std::string(error_) : curl_easy_strerror(code);
    }
    curl_off_t offset() const { return offset_; }
    int writeError() const { return writeError_; }
    bool isTooLarge() const { return tooLarge_; }
    bool rangeMismatch() const { return rangeMismatch_; }

  private:
    static size_t onHeader(char* data, size_t size, size_t count, void* self) {
        auto& request = *static_cast<Request*>(self);
        const std::string_view line(data, size * count);
        if (line.starts_with("HTTP/")) {
            request.contentRangeStart_.reset(); // a new response, after a 100 or a redirect
        } else if (const auto start = rangeStart(line)) {
            request.contentRangeStart_ = start;
        }
        return size * count;
    }

    static size_t onBody(char* data, size_t size, size_t count, void* self) {
        auto& request = *static_cast<Request*>(self);
        const size_t bytes = size * count;
        if (!request.decided_ && !request.decide()) {
            return 0;
        }
        if (!request.writing_) {
            return bytes; // a redirect's or an error's page
        }
        if (request.maximum_ > 0 && static_cast<curl_off_t>(bytes) >
                                        request.maximum_ - request.offset_ - request.written_) {
            request.tooLarge_ = true;
            return 0;
        }
        if (!Files::writeAll(request.fd_, std::string_view(data, bytes))) {
            request.writeError_ = errno;
            return 0;
        }
        request.written_ += static_cast<curl_off_t>(bytes);
        request.report();
        return bytes;
    }

    static int onTick(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        return static_cast<Request*>(self)->stop_.load() ? 1 : 0;
    }

    // At the first byte of the body: whether it belongs in the file, and where.
    bool decide() {
        decided_ = true;
        const long code = status();
        if (code == 206) {
            if (contentRangeStart_ != offset_) {
                rangeMismatch_ = true;
                return false;
            }
        } else if (code >= 200 && code < 300) {
            // A server that ignores the range sends the whole file again.
            if (offset_ > 0 && ::ftruncate(fd_, 0) != 0) {
                writeError_ = errno;
                return false;
            }
            offset_ = 0;
        } else {
            return true;
        }
        if (::lseek(fd_, offset_, SEEK_SET) < 0) {
            writeError_ = errno;
            return false;
        }
        writing_ = true;
        curl_off_t length = -1;
        curl_easy_getinfo(handle_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        // A length the file cannot have is refused before a byte is written; one past what
        // the arithmetic holds is no length at all.
        if (maximum_ > 0 && length > maximum_ - offset_) {
            tooLarge_ = true;
            return false;
        }
        if (length >= 0 && length <= std::numeric_limits<curl_off_t>::max() / 100 - offset_) {
            total_ = offset_ + length;
        }
        report();
        return true;
    }

    void report() {
        if (total_ < 1) {
            return;
        }
        const int percent = static_cast<int>((offset_ + written_) * 100 / total_);
        if (percent != reported_) {
            reported_ = percent;
            progress_(percent);
        }
    }

    CURL* handle_;
    int fd_;
    curl_off_t offset_;
    curl_off_t maximum_;
    const std::function<void(int)>& progress_;
    const std::atomic<bool>& stop_;
    char error_[CURL_ERROR_SIZE] = {};
    std::optional<curl_off_t> contentRangeStart_;
    bool decided_ = false;
    bool writing_ = false;
    bool rangeMismatch_ = false;
    bool tooLarge_ = false;
    int writeError_ = 0;
    curl_off_t written_ = 0;
    curl_off_t total_ = -1;
    int reported_ = -1;
};

bool isBusy(long status) {
    return status == 408 || status == 429 || status >= 500;
}

std::string answered(long status) {
    return "the server answered http " + std::to_string(status);
}

} // namespace

Transfer::Outcome Transfer::fetch(const std::string& address, int fd, const Limits& limits,
                                  const std::function<void(int)>& progress,
                                  const std::atomic<bool>& stop) {
    const WebRequest::Handle handle = WebRequest::make();
    if (!handle) {
        return {Kind::interrupted, "couldn't start libcurl"};
    }
    std::string current = address;
    for (int hop = 0; hop <= limits.redirects; ++hop) {
        if (const auto problem = ModelAddress::problem(current)) {
            return {Kind::refused, "refused to fetch an address: " + *problem};
        }
        struct stat info {};
        if (::fstat(fd, &info) != 0) {
            return {Kind::unwritable, std::strerror(errno)};
        }
        Request request(handle.get(), fd, info.st_size, limits.maximumBytes, progress, stop);
        const CURLcode code = request.perform(current, limits);
        if (stop.load()) {
            return {Kind::stopped, "stopped"};
        }
        if (request.writeError() != 0) {
            return {Kind::unwritable, std::strerror(request.writeError())};
        }
        if (request.isTooLarge()) {
            // Nothing of it is worth resuming.
            if (::ftruncate(fd, 0) != 0) {
                return {Kind::unwritable, std::strerror(errno)};
            }
            return {Kind::refused, "the file is larger than expected"};
        }
        if (request.rangeMismatch()) {
            // Not the part we asked for: start the file afresh.
            if (::ftruncate(fd, 0) != 0) {
                return {Kind::unwritable, std::strerror(errno)};
            }
            return {Kind::interrupted, "the server sent another part of the file"};
        }
        const long status = request.status();
        if (code != CURLE_OK) {
            return {Kind::interrupted, request.error(code)};
        }
        if (status >= 300 && status < 400) {
            char* location = nullptr;
            curl_easy_getinfo(handle.get(), CURLINFO_REDIRECT_URL, &location);
            if (!location) {
                return {Kind::refused, answered(status) + " without a location"};
            }
            current = location;
            continue;
        }
        if (status == 416 && request.offset() > 0) {
            return {Kind::complete, {}}; // everything is here already; the digest will tell
        }
        if (isBusy(status)) {
            return {Kind::interrupted, answered(status)};
        }
        if (status < 200 || status >= 300) {
            return {Kind::refused, answered(status)};
        }
        return {Kind::complete, {}};
    }
    return {Kind::refused, "too many redirects"};
}
