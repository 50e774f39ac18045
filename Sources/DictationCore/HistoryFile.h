#pragma once

#include "Dictation.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The history file: one compact JSON object per line, oldest first. Another process may read it
// while it is written: rewrites replace it atomically and appends add whole lines, so a reader
// sees the old or the new file, at worst without its newest, unfinished line. Appends and
// rewrites take turns through an advisory lock on "<file>.lock" beside it (the history itself
// is replaced by a rename, so a lock on it would not hold across a rewrite).
class HistoryFile {
  public:
    explicit HistoryFile(std::filesystem::path url) : url_(std::move(url)) {}

    const std::filesystem::path& url() const { return url_; }

    // The records in file order; no file is an empty history. Lines that are not records are
    // skipped and left in the file. Throws FileError when the file cannot be read.
    std::vector<Dictation> load() const;

    // Adds the record on a line of its own, after a line feed if the last line was cut short.
    // Creates the file (mode 0600) when there is none. Throws FileError.
    void append(const Dictation& record) const;

    // Replaces the whole file with the records, in their order, atomically and with mode 0600.
    // Throws FileError; the old file stays as it was.
    void save(std::span<const Dictation> records) const;

    // Reads the file, hands its records to `change` and saves what that returns, while no other
    // process of ours appends or rewrites: a dictation another instance adds meanwhile is never
    // lost. Returns the records read and the records saved. Throws FileError, and whatever
    // `change` throws, with the file left as it was.
    struct Rewrite {
        std::vector<Dictation> before;
        std::vector<Dictation> after;
    };
    Rewrite
    rewrite(const std::function<std::vector<Dictation>(std::vector<Dictation>)>& change) const;

    // One line: the record, any key order, unknown keys ignored. Nothing when a required key is
    // missing or of the wrong type, the id is no UUID or the outcome is not one of the three.
    static std::optional<Dictation> decode(std::string_view line);
    // The record as compact JSON and a line feed.
    static std::string line(const Dictation& record);

  private:
    std::filesystem::path url_;
};
