// MS-DOS date and time, the modification time format of ZIP entries.
#pragma once

#include <cstdint>

#include "time/timestamp.h"

namespace lorebox {

// 1980-01-01 00:00:00, the stand-in for a time DOS cannot express.
inline constexpr uint32_t kDosEpoch = (1u << 21) | (1u << 16);

// The date in the high 16 bits (year - 1980, month, day) and the time in the
// low 16 (hour, minute, second / 2). Years before 1980 or after 2107 give
// kDosEpoch.
uint32_t dos_date_time(const CivilTime& time);

}  // namespace lorebox
