#pragma once

#include "Dates.h"
#include "RawValues.h"
#include "TextSearch.h"

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

// What became of a dictation.
enum class Outcome { typed, silent, failed };

namespace Outcomes {
inline constexpr RawValues<Outcome, 3> raw{{{
    {Outcome::typed, "typed"},
    {Outcome::silent, "silent"},
    {Outcome::failed, "failed"},
}}};
inline constexpr auto allCases = raw.allCases();
inline constexpr std::string_view rawValue(Outcome o) {
    return raw.rawValue(o);
}
inline constexpr std::optional<Outcome> fromRawValue(std::string_view text) {
    return raw.fromRawValue(text);
}
} // namespace Outcomes

// One finished dictation as the history keeps it. Fields are in the order they are written.
struct Dictation {
    std::string id; // upper-case UUID; stays the same when the user corrects the text
    Timestamp date;
    double seconds = 0; // length of the recording
    std::string app;
    Outcome outcome = Outcome::typed;
    std::string text;  // what was inserted; empty unless typed
    std::string heard; // the raw transcript; empty unless typed
    std::optional<std::string> corrected;
    std::optional<std::string> problem; // why it was silent or failed
    std::int64_t totalMs = 0;

    bool operator==(const Dictation&) const = default;

    // The user's correction when there is one, else the inserted text.
    const std::string& finalText() const { return corrected ? *corrected : text; }

    // The history search: the query without surrounding spaces and tabs, found in finalText or
    // else in app, ignoring case (full Unicode case folding, with the Turkic dotted and dotless
    // i under a Turkish or Azerbaijani locale) but not accents. An empty query matches all.
    bool matches(std::string_view query) const;

    // A copy whose correction is `newText` trimmed, or none when that is empty or the text itself.
    Dictation correcting(std::string_view newText) const;

    // A search prepared once and run over many records.
    class Matcher {
      public:
        // `locale` is an ICU locale name; empty means the user's.
        explicit Matcher(std::string_view query, std::string_view locale = {});
        bool operator()(const Dictation& record) const;

      private:
        TextSearch search_;
    };
};

// Compact, keys in field order, "corrected" and "problem" left out when absent.
void to_json(nlohmann::ordered_json& json, const Dictation& record);
