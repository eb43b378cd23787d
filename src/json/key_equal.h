// Inside the JSON module only: comparison of member names, which are short
// and compared for every member of every object a reader looks into.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

namespace lorebox::json {

// True when a and b hold the same bytes. A library memcmp call costs more
// than the comparison of a short name itself: names of 4 or more bytes are
// compared a word at a time (the last word overlapping the one before).
inline bool key_equal(std::string_view a, std::string_view b) {
  const size_t n = a.size();
  if (n != b.size()) return false;
  const char* x = a.data();
  const char* y = b.data();
  if (n >= 8) {
    uint64_t u;
    uint64_t v;
    for (size_t i = 0; i + 8 < n; i += 8) {
      std::memcpy(&u, x + i, 8);
      std::memcpy(&v, y + i, 8);
      if (u != v) return false;
    }
    std::memcpy(&u, x + n - 8, 8);
    std::memcpy(&v, y + n - 8, 8);
    return u == v;
  }
  if (n >= 4) {
    uint32_t u[2];
    uint32_t v[2];
    std::memcpy(&u[0], x, 4);
    std::memcpy(&v[0], y, 4);
    std::memcpy(&u[1], x + n - 4, 4);
    std::memcpy(&v[1], y + n - 4, 4);
    return u[0] == v[0] && u[1] == v[1];
  }
  for (size_t i = 0; i < n; ++i) {
    if (x[i] != y[i]) return false;
  }
  return true;
}

}  // namespace lorebox::json
