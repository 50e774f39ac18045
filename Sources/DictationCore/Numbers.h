#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Whole numbers as the user's locale writes them. The locale is an ICU name ("en_US", "de_DE");
// empty means ICU's default, the user's.
namespace Numbers {

// With the locale's grouping: 80,000 in English, 80.000 in German.
std::string grouped(std::int64_t number, std::string_view locale = {});
// The locale's short compact notation: 500, 2.5K, 10K in English.
std::string compact(std::int64_t number, std::string_view locale = {});

} // namespace Numbers
