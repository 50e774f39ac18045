#include "Dictation.h"

#include "Retention.h"
#include "Text.h"

#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>

namespace {

icu::UnicodeString unicode(std::string_view text) {
    return icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

// Turkish and Azerbaijani pair I with dotless ı and İ with i.
uint32_t foldOptions(std::string_view locale) {
    const icu::Locale where = locale.empty()
                                  ? icu::Locale::getDefault()
                                  : icu::Locale::createFromName(std::string(locale).c_str());
    const std::string_view language = where.getLanguage();
    return language == "tr" || language == "az" ? U_FOLD_CASE_EXCLUDE_SPECIAL_I
                                                : U_FOLD_CASE_DEFAULT;
}

// Composed, case-folded ("Straße" and "STRASSE" both become "strasse"), composed again since
// folding can take a composed letter apart. Accents stay, as a person searching expects.
icu::UnicodeString folded(const icu::UnicodeString& text, uint32_t options) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status)) {
        return icu::UnicodeString(text).foldCase(options);
    }
    icu::UnicodeString result = nfc->normalize(text, status);
    result.foldCase(options);
    result = nfc->normalize(result, status);
    return U_SUCCESS(status) ? result : icu::UnicodeString(text).foldCase(options);
}

} // namespace

struct Dictation::Matcher::Search {
    icu::UnicodeString pattern;
    uint32_t options = U_FOLD_CASE_DEFAULT;

    bool contains(std::string_view text) const {
        return !text.empty() && folded(unicode(text), options).indexOf(pattern) >= 0;
    }
};

Dictation::Matcher::Matcher(std::string_view query, std::string_view locale) {
    const std::string trimmed = Text::trimmedSpaces(query);
    if (trimmed.empty()) {
        return;
    }
    search_ = std::make_unique<Search>();
    search_->options = foldOptions(locale);
    search_->pattern = folded(unicode(trimmed), search_->options);
}

Dictation::Matcher::Matcher(Matcher&&) noexcept = default;
Dictation::Matcher& Dictation::Matcher::operator=(Matcher&&) noexcept = default;
Dictation::Matcher::~Matcher() = default;

bool Dictation::Matcher::operator()(const Dictation& record) const {
    if (!search_) {
        return true;
    }
    return search_->contains(record.finalText()) || search_->contains(record.app);
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
