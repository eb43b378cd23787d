// Target for the timestamp parser and the calendar conversions.
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>

#include <fmt/format.h>

#include "fuzz_check.h"
#include "fuzz_targets.h"
#include "time/timestamp.h"

namespace lorebox::fuzz {

namespace {

// An accepted text must name a finite instant, and the calendar fields of
// that instant, written back as a timestamp, must parse to its whole second.
void check_parse(std::string_view text) {
  const std::optional<double> instant = parse_timestamp(text);
  if (!instant) return;
  if (!expect(std::isfinite(*instant), "an accepted timestamp is not finite")) return;

  const CivilTime civil = civil_from_instant(*instant);
  if (civil.year > 9999 || *instant < -62167219200.0) return;  // outside 0000-9999
  const std::string again =
      fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}Z", civil.year, civil.month,
                  civil.day, civil.hour, civil.minute, civil.second);
  const std::optional<double> back = parse_timestamp(again);
  expect(back && *back == std::floor(*instant),
         "an instant's calendar fields do not parse back to it");
  expect(date_text(*instant) == again.substr(0, 10),
         "date_text disagrees with civil_from_instant");
}

// Any eight bytes as an instant: the fields stay in their ranges, and in
// the years 1 to 65535 they convert back to the instant's whole second.
void check_instant(double instant) {
  const CivilTime civil = civil_from_instant(instant);
  expect(civil.month >= 1 && civil.month <= 12 && civil.day >= 1 && civil.day <= 31 &&
             civil.hour < 24 && civil.minute < 60 && civil.second < 60,
         "civil_from_instant gave a field out of range");
  (void)date_text(instant);
  if (!(instant >= -62135596800.0 && instant < 2.0e12)) return;
  const double whole = std::floor(instant);
  const int64_t seconds = days_from_civil(civil.year, civil.month, civil.day) * 86400 +
                          civil.hour * 3600 + civil.minute * 60 + civil.second;
  expect(static_cast<double>(seconds) == whole,
         "days_from_civil does not invert civil_from_instant");
}

}  // namespace

int fuzz_timestamp(const uint8_t* data, size_t size) {
  check_parse(std::string_view(reinterpret_cast<const char*>(data), size));
  if (size >= sizeof(double)) {
    double instant = 0.0;
    std::memcpy(&instant, data, sizeof instant);
    check_instant(instant);
  }
  return 0;
}

}  // namespace lorebox::fuzz
