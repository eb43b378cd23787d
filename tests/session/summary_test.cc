#include "session/summary.h"

#include <limits>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

namespace lorebox {
namespace {

// A session of `source` created at `start` with `prompts` prompts and then
// `replies` replies, the last message at `end`.
Session make_session(SourceKind source, double start, double end, int prompts,
                     int replies) {
  Session session;
  session.source = source;
  session.created_at = start;
  for (int i = 0; i < prompts + replies; ++i) {
    Message message;
    message.text = "m";
    message.timestamp = start;
    message.role = i < prompts ? Role::User : Role::Assistant;
    session.messages.push_back(message);
  }
  if (!session.messages.empty()) session.messages.back().timestamp = end;
  return session;
}

TEST(SummaryTest, SummariseSpan) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // {created_at of each session (no messages), earliest, latest}
  const std::tuple<std::vector<double>, double, double> cases[] = {
      {{}, 0.0, 0.0},
      {{30.0, 10.0, 20.0}, 10.0, 30.0},
      {{0.0, 40.0, 50.0}, 40.0, 50.0},  // an epoch creation time is replaced
      {{20.0, nan, 10.0}, 10.0, 20.0},  // NaN never wins a comparison
  };
  for (const auto& [created, earliest, latest] : cases) {
    std::vector<Session> sessions;
    for (double c : created)
      sessions.push_back(make_session(SourceKind::Codex, c, c, 0, 0));
    sessions.push_back(make_session(SourceKind::ClaudeCode, 15.0, 16.0, 2, 1));
    const SourceSummary codex = summarise(sessions, SourceKind::Codex);
    EXPECT_EQ(codex.sessions, created.size());
    EXPECT_EQ(codex.earliest, earliest);
    EXPECT_EQ(codex.latest, latest);
    const SourceSummary claude = summarise(sessions, SourceKind::ClaudeCode);
    EXPECT_EQ(claude.prompts, 2u);
    EXPECT_EQ(claude.messages, 3u);
  }
}

}  // namespace
}  // namespace lorebox
