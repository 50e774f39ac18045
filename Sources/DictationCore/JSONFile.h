#pragma once

#include "FileError.h"
#include "Files.h"

#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

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
        } catch (const nlohmann::json::parse_error& error) {
            // The parser's own text quotes what it last read, which could be anything in the
            // file: only where it stopped goes into the message.
            throw FileError("couldn't read " + url_.filename().string() +
                            ": not valid JSON (at byte " + std::to_string(error.byte) + ")");
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
