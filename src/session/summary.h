// Totals over a set of sessions, for the manifest, the archive name and the
// console report.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "session/session.h"

namespace lorebox {

// Totals over a set of sessions.
struct SourceSummary {
  uint64_t sessions = 0;
  uint64_t prompts = 0;
  uint64_t messages = 0;
  double earliest = 0.0;  // least created_at (0.0 means none yet)
  double latest = 0.0;    // greatest updated time
};

// Totals over the sessions, or over those of one source. earliest is the
// least created_at, where a running value of exactly 0.0 counts as unset
// and is replaced; latest is the greatest updated time, starting from 0.0.
// Comparisons involving NaN are false. Both stay 0.0 for no sessions.
SourceSummary summarise(const std::vector<Session>& sessions,
                        std::optional<SourceKind> source = std::nullopt);

}  // namespace lorebox
