#include "time/timestamp.h"

#include <chrono>
#include <cmath>
#include <limits>

#include <fmt/format.h>

namespace lorebox {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads `count` ASCII digits starting at `pos`; the caller checked them.
int64_t read_digits(std::string_view text, size_t pos, size_t count) {
  int64_t value = 0;
  for (size_t i = 0; i < count; ++i) value = value * 10 + (text[pos + i] - '0');
  return value;
}

// Floor division for a positive divisor.
int64_t floor_div(int64_t a, int64_t b) {
  int64_t q = a / b;
  return (a % b != 0 && a < 0) ? q - 1 : q;
}

}  // namespace

std::optional<double> parse_timestamp(std::string_view text) {
  if (text.size() < 19) return std::nullopt;
  if (text[4] != '-' || text[7] != '-' || (text[10] != 'T' && text[10] != ' ') ||
      text[13] != ':' || text[16] != ':')
    return std::nullopt;
  for (size_t pos : {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18})
    if (!is_digit(text[pos])) return std::nullopt;

  const int64_t year = read_digits(text, 0, 4);
  const int64_t month = read_digits(text, 5, 2);
  const int64_t day = read_digits(text, 8, 2);
  const int64_t hour = read_digits(text, 11, 2);
  const int64_t minute = read_digits(text, 14, 2);
  const int64_t second = read_digits(text, 17, 2);
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59)
    return std::nullopt;

  int64_t offset = 0;
  double fraction = 0.0;
  size_t pos = 19;
  bool zone_follows = text.size() > 19;
  if (zone_follows && text[pos] == '.') {
    ++pos;
    const size_t start = pos;
    // Digits beyond 19 would overflow a 64-bit whole number; they are read
    // but no longer change the value.
    uint64_t digits_value = 0;
    int scale = 0;
    while (pos < text.size() && is_digit(text[pos])) {
      if (scale < 19) {
        digits_value = digits_value * 10 + static_cast<uint64_t>(text[pos] - '0');
        ++scale;
      }
      ++pos;
    }
    if (pos > start) fraction = static_cast<double>(digits_value) / std::pow(10.0, scale);
    zone_follows = pos < text.size();
  }
  if (zone_follows) {
    const char designator = text[pos];
    if (designator == 'Z' || designator == 'z') {
      offset = 0;
    } else if (designator == '+' || designator == '-') {
      // Remove every ':' after the sign; at least four digits must lead.
      char digits[4];
      size_t found = 0;
      for (size_t i = pos + 1; i < text.size() && found < 4; ++i) {
        if (text[i] == ':') continue;
        if (!is_digit(text[i])) return std::nullopt;
        digits[found++] = text[i];
      }
      if (found < 4) return std::nullopt;
      const int64_t zone_hours = (digits[0] - '0') * 10 + (digits[1] - '0');
      const int64_t zone_minutes = (digits[2] - '0') * 10 + (digits[3] - '0');
      const int64_t zone = zone_hours * 3600 + zone_minutes * 60;
      offset = designator == '+' ? -zone : zone;
    } else {
      return std::nullopt;
    }
  }

  const int64_t seconds = days_from_civil(year, month, day) * 86400 + hour * 3600 +
                          minute * 60 + (second + offset);
  return static_cast<double>(seconds) + fraction;
}

int64_t days_from_civil(int64_t year, int64_t month, int64_t day) {
  const int64_t y = month <= 2 ? year - 1 : year;
  const int64_t era = floor_div(y, 400);
  const int64_t yoe = y - era * 400;
  const int64_t mp = month > 2 ? month - 3 : month + 9;
  return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + (153 * mp + 2) / 5 + day -
         719469;
}

CivilTime civil_from_instant(double instant) {
  int64_t s = 0;
  if (std::isnan(instant)) {
    s = 0;
  } else if (instant >= 9223372036854775807.0) {
    s = std::numeric_limits<int64_t>::max();
  } else if (instant < -9223372036854775808.0) {
    s = std::numeric_limits<int64_t>::min();
  } else {
    s = static_cast<int64_t>(std::floor(instant));
  }
  const int64_t days = floor_div(s, 86400);
  // From the remainder, not s - days * 86400, which overflows at the
  // lower clamp.
  int64_t second_of_day = s % 86400;
  if (second_of_day < 0) second_of_day += 86400;

  CivilTime civil;
  civil.hour = static_cast<uint8_t>(second_of_day / 3600);
  civil.minute = static_cast<uint8_t>((second_of_day % 3600) / 60);
  civil.second = static_cast<uint8_t>(second_of_day % 60);

  // Inverse of days_from_civil (H. Hinnant's civil_from_days), in constant
  // time for any day count representable here.
  const int64_t z = days + 719468;
  const int64_t era = floor_div(z, 146097);
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);

  civil.month = static_cast<uint8_t>(month);
  civil.day = static_cast<uint8_t>(day);
  if (year < 0) {
    civil.year = 0;
  } else if (year > 65535) {
    civil.year = 65535;
  } else {
    civil.year = static_cast<uint16_t>(year);
  }
  return civil;
}

std::string date_text(double instant) {
  const CivilTime civil = civil_from_instant(instant);
  return fmt::format("{:04}-{:02}-{:02}", civil.year, civil.month, civil.day);
}

double current_instant() {
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  if (since_epoch.count() < 0) return 0.0;
  const auto whole = std::chrono::duration_cast<std::chrono::seconds>(since_epoch);
  const auto nanos =
      std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch - whole);
  return static_cast<double>(whole.count()) + static_cast<double>(nanos.count()) / 1e9;
}

}  // namespace lorebox
