// The program's only calendar arithmetic. Every instant is a double of
// seconds since 1970-01-01T00:00:00Z; no local time zone is ever consulted.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lorebox {

// Parses "YYYY-MM-DDTHH:MM:SS[.fff][Z|±HH[:]MM]" (a space may stand for the
// T; no zone means UTC; text after the zone is ignored). Returns nothing when
// the text is rejected. Seconds 00-99 are accepted and simply added, and the
// day is not checked against the month's length.
std::optional<double> parse_timestamp(std::string_view text);

// Days from 1970-01-01 to the given proleptic Gregorian date.
int64_t days_from_civil(int64_t year, int64_t month, int64_t day);

// A UTC calendar date and time of day.
struct CivilTime {
  uint16_t year = 1970;
  uint8_t month = 1;
  uint8_t day = 1;
  uint8_t hour = 0;
  uint8_t minute = 0;
  uint8_t second = 0;
};

// Breaks an instant down into UTC calendar fields, in constant time. NaN
// counts as 0; instants far outside 64-bit seconds clamp; years outside
// 0-65535 clamp to those ends.
CivilTime civil_from_instant(double instant);

// "YYYY-MM-DD" of the instant's UTC date.
std::string date_text(double instant);

// The wall clock as epoch seconds with fraction; 0.0 before the epoch.
double current_instant();

}  // namespace lorebox
