// The console report: summary, per-source lines and the session listing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
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

// "{n} {noun}" with the noun in the plural ("{n} {noun}s") unless n is 1.
std::string count_phrase(uint64_t count, std::string_view noun);

// The report text: "\nFound {n sessions} spanning {date} to {date}\n", then
// for Claude Code and then Codex, when it has sessions,
// "  {name:<12} {n:>4} sessions  {n:>6} prompts  {n:>6} messages\n".
std::string summary_lines(const std::vector<Session>& sessions);

// One `--list` line for a session, without the line feed:
// "  {date of updated time}  {source id:<11} {prompts:>3}p  {display title}".
std::string session_line(const Session& session);

}  // namespace lorebox
