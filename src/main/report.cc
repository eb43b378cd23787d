#include "main/report.h"

#include <fmt/format.h>

#include "archive/title.h"
#include "session/summary.h"
#include "time/timestamp.h"

namespace lorebox {

std::string count_phrase(uint64_t count, std::string_view noun) {
  if (count == 1) return fmt::format("{} {}", count, noun);
  return fmt::format("{} {}s", count, noun);
}

std::string summary_lines(const std::vector<Session>& sessions) {
  const SourceSummary all = summarise(sessions);
  std::string text =
      fmt::format("\nFound {} spanning {} to {}\n", count_phrase(all.sessions, "session"),
                  date_text(all.earliest), date_text(all.latest));
  for (SourceKind kind : {SourceKind::ClaudeCode, SourceKind::Codex}) {
    const SourceSummary one = summarise(sessions, kind);
    if (one.sessions == 0) continue;
    text +=
        fmt::format("  {:<12} {:>4} sessions  {:>6} prompts  {:>6} messages\n",
                    source_display_name(kind), one.sessions, one.prompts, one.messages);
  }
  return text;
}

std::string session_line(const Session& session) {
  return fmt::format("  {}  {:<11} {:>3}p  {}", date_text(updated_time(session)),
                     source_identifier(session.source), prompt_count(session),
                     display_title(session));
}

}  // namespace lorebox
