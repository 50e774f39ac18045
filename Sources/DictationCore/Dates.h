#pragma once

#include <chrono>
#include <string>

using Timestamp = std::chrono::system_clock::time_point;

// Files store dates as seconds since 2001-01-01 00:00:00 UTC.
namespace Dates {

inline constexpr double referenceOffset = 978307200.0; // that moment in Unix seconds

double toReferenceSeconds(Timestamp time);
Timestamp fromReferenceSeconds(double seconds);

// "2025-03-07T14:03:12Z": UTC, whole seconds (fractions are cut off).
std::string iso8601(Timestamp time);

} // namespace Dates
