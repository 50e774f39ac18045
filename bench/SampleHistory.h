#pragma once

#include "Calendar.h"
#include "Dictation.h"
#include "Dictations.h"
#include "HistoryFile.h"
#include "JSONFile.h"
#include "Totals.h"
#include "Uuid.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <vector>

// A year of dictations into a dozen apps, each a sentence or two of the usual kind, ending at
// `now`: the history a heavy user's app starts with.
namespace SampleHistory {

inline Dictation record(std::size_t i, std::size_t count, Timestamp now) {
    static const std::array<const char*, 12> apps = {
        "Firefox", "Mail",  "Slack",    "Text Editor",        "Terminal",
        "Element", "Zulip", "Obsidian", "LibreOffice Writer", "Thunderbird Mail",
        "Code",    "Notes"};
    const auto& sentences = Dictations::sentences();
    Dictation record;
    record.id = Uuid::generate();
    // 100 000 over a year: about five minutes apart, oldest first.
    record.date = now - std::chrono::seconds((count - i) * 31'536'000 / count);
    record.seconds = 8;
    record.app = apps[(i * 7) % apps.size()];
    record.outcome = i % 50 == 0 ? Outcome::silent : Outcome::typed;
    if (record.outcome == Outcome::typed) {
        record.heard = sentences[i % sentences.size()];
        if (i % 3 == 0) {
            record.heard += " " + sentences[(i / 3) % sentences.size()];
        }
        record.text = record.heard;
    } else {
        record.problem = "No speech found";
    }
    record.totalMs = 700;
    return record;
}

inline std::vector<Dictation> records(std::size_t count, Timestamp now) {
    std::vector<Dictation> all;
    all.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        all.push_back(record(i, count, now));
    }
    return all;
}

// The history file and, as the app keeps them beside it, its totals.
inline void write(const std::filesystem::path& history, const std::filesystem::path& totals,
                  std::size_t count, Timestamp now, const Calendar& calendar) {
    const std::vector<Dictation> all = records(count, now);
    std::filesystem::create_directories(history.parent_path());
    HistoryFile(history).save(all);
    JSONFile<Totals>(totals).save(Totals::from(all, calendar));
}

} // namespace SampleHistory
