// The console report: summary, per-source lines and the session listing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
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

// Totals over the sessions, or over those of one source.
SourceSummary summarise(const std::vector<Session>& sessions,
                        std::optional<SourceKind> source = std::nullopt);

// "{n} {noun}" with the noun in the plural unless n is 1.
std::string count_phrase(uint64_t count, std::string_view noun);

// The report text: "\nFound … spanning … to …\n" and one line per source
// that has sessions, each line ended by a line feed.
std::string summary_lines(const std::vector<Session>& sessions);

// One `--list` line for a session, without the line feed.
std::string session_line(const Session& session);

}  // namespace lorebox
