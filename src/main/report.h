// The console report: summary, per-source lines and the session listing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "session/session.h"

namespace lorebox {

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
