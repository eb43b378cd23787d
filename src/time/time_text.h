// Times as the archive writes them.
#pragma once

#include <cstddef>
#include <string>

namespace lorebox {

// Room for the longest time text: 17 significant digits with up to 15 more
// zeros on either side of the point, or an exponent form.
inline constexpr size_t kTimeTextSize = 64;

// Writes the time form of `value` into the kTimeTextSize bytes at `buffer`
// and returns its length: the shortest decimal that reads back as the same
// double, always with a fraction or an exponent (1760000042.0,
// 1760000000.25); plain decimal for magnitudes from 1e-4 to 1e15, the
// shorter of plain and exponent form outside; "null" when not finite.
size_t format_time(double value, char* buffer);

// The same text as a string.
std::string time_text(double value);

}  // namespace lorebox
