#include "archive/dos_time.h"

namespace lorebox {

uint32_t dos_date_time(const CivilTime& time) {
  if (time.year < 1980 || time.year > 2107) return kDosEpoch;
  const uint32_t date = (static_cast<uint32_t>(time.year - 1980) << 9) |
                        (static_cast<uint32_t>(time.month) << 5) | time.day;
  const uint32_t clock = (static_cast<uint32_t>(time.hour) << 11) |
                         (static_cast<uint32_t>(time.minute) << 5) |
                         (static_cast<uint32_t>(time.second) / 2);
  return (date << 16) | clock;
}

}  // namespace lorebox
