#pragma once

#include "Dates.h"
#include "FileError.h"

#include <cstdint>
#include <filesystem>
#include <string>

// One row of "runs.csv": durations and counts of a finished dictation, never its words.
struct TimingRecord {
    Timestamp date;
    double audioSeconds = 0;
    std::int64_t words = 0;
    std::int64_t asrMs = 0;
    std::int64_t llmMs = 0;
    std::int64_t totalMs = 0;
    std::string app;

    bool operator==(const TimingRecord&) const = default;

    static const std::string& csvHeader();
    std::string csvRow() const; // without the line feed
};

struct TimingLog {
    std::filesystem::path url;

    // Creates the file (mode 0600) with its header on first use, else appends one whole row.
    // Throws FileError.
    void append(const TimingRecord& record) const;
};
