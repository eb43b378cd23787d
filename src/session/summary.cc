#include "session/summary.h"

namespace lorebox {

SourceSummary summarise(const std::vector<Session>& sessions,
                        std::optional<SourceKind> source) {
  SourceSummary summary;
  for (const Session& session : sessions) {
    if (source && session.source != *source) continue;
    ++summary.sessions;
    summary.prompts += prompt_count(session);
    summary.messages += message_count(session);
    // 0.0 stands for "no value yet", so a creation time of exactly 0.0 is
    // replaced by the next session's. Comparisons with NaN are false.
    if (summary.earliest == 0.0 || session.created_at < summary.earliest)
      summary.earliest = session.created_at;
    const double updated = updated_time(session);
    if (updated > summary.latest) summary.latest = updated;
  }
  return summary;
}

}  // namespace lorebox
