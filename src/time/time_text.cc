#include "time/time_text.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace lorebox {

size_t format_time(double value, char* buffer) {
  if (!std::isfinite(value)) {
    std::memcpy(buffer, "null", 4);
    return 4;
  }
  const double magnitude = std::fabs(value);
  char* const end = buffer + kTimeTextSize - 2;  // room for ".0"
  // Without a precision both calls give the shortest text that reads back
  // as the same double: in plain notation inside the range of plausible
  // times (a millisecond value mistaken for seconds reaches 1e12), in the
  // shorter of plain and exponent notation outside it.
  const std::to_chars_result result =
      magnitude >= 1e-4 && magnitude <= 1e15
          ? std::to_chars(buffer, end, value, std::chars_format::fixed)
          : std::to_chars(buffer, end, value);
  size_t length = static_cast<size_t>(result.ptr - buffer);
  if (std::memchr(buffer, '.', length) == nullptr &&
      std::memchr(buffer, 'e', length) == nullptr) {
    buffer[length++] = '.';
    buffer[length++] = '0';
  }
  return length;
}

std::string time_text(double value) {
  char buffer[kTimeTextSize];
  return std::string(buffer, format_time(value, buffer));
}

}  // namespace lorebox
