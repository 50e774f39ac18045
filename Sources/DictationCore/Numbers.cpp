#include "Numbers.h"

#include <unicode/locid.h>
#include <unicode/numberformatter.h>
#include <unicode/unistr.h>

namespace {

icu::Locale localeOf(std::string_view name) {
    return name.empty() ? icu::Locale::getDefault() : icu::Locale(std::string(name).c_str());
}

std::string format(const icu::number::LocalizedNumberFormatter& formatter, std::int64_t number) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString text = formatter.formatInt(number, status).toString(status);
    if (U_FAILURE(status)) {
        return std::to_string(number);
    }
    std::string result;
    text.toUTF8String(result);
    return result;
}

} // namespace

std::string Numbers::grouped(std::int64_t number, std::string_view locale) {
    return format(icu::number::NumberFormatter::withLocale(localeOf(locale)), number);
}

std::string Numbers::compact(std::int64_t number, std::string_view locale) {
    return format(icu::number::NumberFormatter::withLocale(localeOf(locale))
                      .notation(icu::number::Notation::compactShort()),
                  number);
}
