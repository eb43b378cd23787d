#include "text/char_class.h"

#include <algorithm>
#include <iterator>

namespace lorebox {

namespace {

struct CodeRange {
  char32_t first;
  char32_t last;  // inclusive
};

constexpr CodeRange kAlphanumeric[] = {
#include "text/alnum_table.inc"
};

}  // namespace

bool is_alphanumeric(char32_t c) {
  if (c < 0x80) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
  }
  // The first range whose end is at or after c is the only one that can hold it.
  const CodeRange* end = std::end(kAlphanumeric);
  const CodeRange* it = std::lower_bound(
      std::begin(kAlphanumeric), end, c,
      [](const CodeRange& range, char32_t value) { return range.last < value; });
  return it != end && it->first <= c;
}

}  // namespace lorebox
