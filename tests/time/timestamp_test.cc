#include "time/timestamp.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace lorebox {
namespace {

constexpr double kNoon = 1748781296.0;  // 2025-06-01T12:34:56Z

struct Accepted {
  const char* text;
  double expected;
};

TEST(ParseTimestamp, AcceptsTheAgentsForms) {
  const Accepted cases[] = {
      {"2025-06-01T12:34:56Z", kNoon},
      {"2025-06-01T12:34:56.789Z", kNoon + 0.789},
      {"2025-06-01 12:34:56Z", kNoon},
      {"2025-06-01T12:34:56", kNoon},
      {"2025-06-01T12:34:56.5", kNoon + 0.5},
      {"2025-06-01T12:34:56.", kNoon},
      {"2025-06-01T12:34:56z", kNoon},
      {"2025-06-01T14:34:56+02:00", kNoon},
      {"2025-06-01T14:34:56+0200", kNoon},
      {"2025-06-01T10:34:56-02:00", kNoon},
      {"2025-06-01T12:34:56Z and more text", kNoon},
      {"2025-06-01T12:34:56.123456+00:00", kNoon + 0.123456},
      {"2025-06-01T12:34:60Z", kNoon + 4},  // second 60 rolls over
      {"2025-06-01T12:34:99Z", kNoon + 43},
      {"2025-02-30T00:00:00Z", 1740873600.0},  // = 2025-03-02
      {"1970-01-01T00:00:00Z", 0.0},
      {"1969-12-31T23:59:59Z", -1.0},
      {"2000-02-29T00:00:00Z", 951782400.0},
      {"0000-03-01T00:00:00Z", -62162035200.0},
      {"2025-03-01T00:00:00ZT00:00:00Z", 1740787200.0},
  };
  for (const Accepted& c : cases) {
    SCOPED_TRACE(c.text);
    std::optional<double> parsed = parse_timestamp(c.text);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_DOUBLE_EQ(*parsed, c.expected);
  }
}

TEST(ParseTimestamp, RejectsMalformedTexts) {
  const char* cases[] = {
      "2025-06-01T12:34:5",  // 18 bytes
      "",
      "2025-06-01T12:34:56+2:00",  // fewer than four zone digits
      "2025-06-01T12:34:56 UTC",   // a space is not a designator
      "2025-00-01T12:34:56Z",
      "2025-13-01T12:34:56Z",
      "2025-06-00T12:34:56Z",
      "2025-06-32T12:34:56Z",
      "2025-06-01T24:00:00Z",
      "2025-06-01T12:60:00Z",
      "2025/06/01T12:34:56Z",
      "2025-06-01X12:34:56Z",
      "2025-06-01T12-34-56Z",
      "2O25-06-01T12:34:56Z",
      "2025-3-1T00:00:00Z",
      "2025-03-01T10:00T00:00:00Z",
      "2025-06-01T12:34:56.5+",
      "2025-06-01T12:34:56+ab:cd",
  };
  for (const char* text : cases) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(parse_timestamp(text).has_value());
  }
}

TEST(ParseTimestamp, ExactFractionValue) {
  // The fraction is digits / 10^n added to the whole seconds as a double.
  EXPECT_EQ(*parse_timestamp("2025-06-01T12:34:56.25Z"), kNoon + 0.25);
  EXPECT_EQ(*parse_timestamp("2025-06-01T12:34:56.789Z"), kNoon + 789.0 / 1000.0);
}

TEST(DaysFromCivil, KnownDates) {
  EXPECT_EQ(days_from_civil(1970, 1, 1), 0);
  EXPECT_EQ(days_from_civil(2000, 3, 1), 11017);
  EXPECT_EQ(days_from_civil(1969, 12, 31), -1);
  EXPECT_EQ(days_from_civil(2025, 6, 1), 20240);
  EXPECT_EQ(days_from_civil(0, 1, 1), -719528);
}

struct DateCase {
  double instant;
  const char* date;
};

TEST(DateText, FormatsUtcDates) {
  const DateCase cases[] = {
      {0.0, "1970-01-01"},
      {kNoon, "2025-06-01"},
      {-1.0, "1969-12-31"},
      {951782400.0, "2000-02-29"},
      {1767223800.0, "2025-12-31"},  // 23:30
      {253402300799.0, "9999-12-31"},
      {std::numeric_limits<double>::quiet_NaN(), "1970-01-01"},
  };
  for (const DateCase& c : cases) {
    SCOPED_TRACE(c.date);
    EXPECT_EQ(date_text(c.instant), c.date);
  }
}

TEST(CivilFromInstant, BreaksDownTimeOfDay) {
  CivilTime t = civil_from_instant(kNoon + 0.9);
  EXPECT_EQ(t.year, 2025);
  EXPECT_EQ(t.month, 6);
  EXPECT_EQ(t.day, 1);
  EXPECT_EQ(t.hour, 12);
  EXPECT_EQ(t.minute, 34);
  EXPECT_EQ(t.second, 56);
  t = civil_from_instant(-0.5);  // rounds down into the previous day
  EXPECT_EQ(t.day, 31);
  EXPECT_EQ(t.hour, 23);
  EXPECT_EQ(t.second, 59);
}

TEST(CivilFromInstant, NeverFailsFarFromTheEpoch) {
  const double extremes[] = {1e12,
                             1e15,
                             1e18,
                             1e300,
                             -1e300,
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity()};
  for (double instant : extremes) {
    SCOPED_TRACE(instant);
    const CivilTime t = civil_from_instant(instant);
    EXPECT_GE(t.month, 1);
    EXPECT_LE(t.month, 12);
    EXPECT_GE(t.day, 1);
    EXPECT_LE(t.day, 31);
  }
  // Within range the year is exact.
  EXPECT_EQ(civil_from_instant(1e12).year, 33658);
  // The clamped ends keep the time of day of the 64-bit extremes.
  const CivilTime lowest = civil_from_instant(-1e300);
  EXPECT_EQ(lowest.hour * 3600 + lowest.minute * 60 + lowest.second, 30592);
  const CivilTime highest = civil_from_instant(1e300);
  EXPECT_EQ(highest.hour * 3600 + highest.minute * 60 + highest.second, 55807);
}

TEST(CurrentInstant, IsAfterThisCodeWasWritten) { EXPECT_GT(current_instant(), 1.7e9); }

}  // namespace
}  // namespace lorebox
