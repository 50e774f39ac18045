#pragma once

#include "FileError.h"

#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace Files {

// An open file descriptor, closed on every path out.
struct Descriptor {
    int fd = -1;
    explicit Descriptor(int descriptor) : fd(descriptor) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor();
    int release();
};

// The whole file, or nothing when there is no file. Throws FileError on any other failure.
// `spare` bytes of room are kept after the contents, so appending that much copies nothing.
std::optional<std::string> readIfPresent(const std::filesystem::path& url, std::size_t spare = 0);

// Writes all of `bytes`, retrying after interruptions; false (errno set) on failure.
bool writeAll(int fd, std::string_view bytes);

// Replaces `url` with `bytes` through "<url>.part" and an atomic rename, so a reader always sees
// the old or the new document. The file gets mode 0600 and its folder is created when missing.
// Throws FileError; the document at `url` is left as it was.
void replaceAtomically(const std::filesystem::path& url, std::string_view bytes);

} // namespace Files

// A whole-document JSON file. No cache: every load reads the disk, every save writes it.
// T converts through nlohmann::ordered_json so keys keep their declaration order.
template <typename T> class JSONFile {
  public:
    explicit JSONFile(std::filesystem::path url) : url_(std::move(url)) {}

    const std::filesystem::path& url() const { return url_; }

    // Nothing when the file does not exist; throws FileError when it cannot be read or decoded.
    std::optional<T> load() const {
        auto bytes = Files::readIfPresent(url_);
        if (!bytes) {
            return std::nullopt;
        }
        try {
            return nlohmann::ordered_json::parse(*bytes).template get<T>();
        } catch (const nlohmann::json::exception& error) {
            throw FileError("couldn't read " + url_.filename().string() + ": " + error.what());
        }
    }

    void save(const T& value) const {
        std::string bytes;
        try {
            bytes = nlohmann::ordered_json(value).dump(-1, ' ', false,
                                                       nlohmann::json::error_handler_t::replace);
        } catch (const nlohmann::json::exception& error) {
            throw FileError("couldn't encode " + url_.filename().string() + ": " + error.what());
        }
        Files::replaceAtomically(url_, bytes);
    }

  private:
    std::filesystem::path url_;
};
