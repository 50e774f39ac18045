#include "Dictation.h"

#include "Retention.h"
#include "Text.h"

Dictation::Matcher::Matcher(std::string_view query, std::string_view locale)
    : search_(Text::trimmedSpaces(query), locale) {}

bool Dictation::Matcher::operator()(const Dictation& record) const {
    return search_.isEmpty() || search_.foundIn(record.finalText()) || search_.foundIn(record.app);
}

bool Dictation::matches(std::string_view query) const {
    return Matcher(query)(*this);
}

Dictation Dictation::correcting(std::string_view newText) const {
    Dictation copy = *this;
    std::string trimmed = Text::trimmed(newText);
    if (trimmed.empty() || trimmed == text) {
        copy.corrected.reset();
    } else {
        copy.corrected = std::move(trimmed);
    }
    return copy;
}

void to_json(nlohmann::ordered_json& json, const Dictation& record) {
    json = nlohmann::ordered_json::object();
    json["id"] = record.id;
    json["date"] = Dates::toReferenceSeconds(record.date);
    json["seconds"] = record.seconds;
    json["app"] = record.app;
    json["outcome"] = Outcomes::rawValue(record.outcome);
    json["text"] = record.text;
    json["heard"] = record.heard;
    if (record.corrected) {
        json["corrected"] = *record.corrected;
    }
    if (record.problem) {
        json["problem"] = *record.problem;
    }
    json["totalMs"] = record.totalMs;
}

namespace Retentions {

std::vector<Dictation> keep(Retention r, std::span<const Dictation> records, Timestamp now) {
    std::vector<Dictation> kept;
    for (const auto& record : records) {
        if (isKept(r, record.date, now)) {
            kept.push_back(record);
        }
    }
    return kept;
}

} // namespace Retentions
