#include "session/session.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace lorebox {
namespace {

Message make(const char* text, double timestamp, Role role = Role::User) {
  Message m;
  m.text = text;
  m.timestamp = timestamp;
  m.role = role;
  return m;
}

TEST(TotalOrder, OrdersEveryDoubleLikeIeeeTotalOrder) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  // Ascending in totalOrder.
  const double ordered[] = {-nan, -inf, -1e300, -1.0, -0.0, 0.0, 1e-300, 1.0, inf, nan};
  for (size_t i = 0; i < std::size(ordered); ++i)
    for (size_t j = 0; j < std::size(ordered); ++j) {
      SCOPED_TRACE(testing::Message() << i << " vs " << j);
      EXPECT_EQ(total_order_less(ordered[i], ordered[j]), i < j);
    }
}

TEST(SortMessages, IsStableAndSetsCreatedAt) {
  Session s;
  s.created_at = 99.0;
  s.messages = {make("c", 3.0), make("a1", 1.0), make("b", 2.0), make("a2", 1.0)};
  sort_messages(s);
  ASSERT_EQ(s.messages.size(), 4u);
  EXPECT_EQ(s.messages[0].text, "a1");
  EXPECT_EQ(s.messages[1].text, "a2");
  EXPECT_EQ(s.messages[2].text, "b");
  EXPECT_EQ(s.messages[3].text, "c");
  EXPECT_EQ(s.created_at, 1.0);
  EXPECT_EQ(updated_time(s), 3.0);
}

TEST(SortMessages, LeavesCreatedAtOfAnEmptySession) {
  Session s;
  s.created_at = 42.0;
  sort_messages(s);
  EXPECT_EQ(s.created_at, 42.0);
  EXPECT_EQ(updated_time(s), 42.0);
}

TEST(SessionCounts, CountPromptsAndMessages) {
  Session s;
  s.messages = {make("q", 1.0), make("a", 2.0, Role::Assistant), make("q2", 3.0)};
  EXPECT_EQ(prompt_count(s), 2u);
  EXPECT_EQ(message_count(s), 3u);
  s.messages = {make("a", 2.0, Role::Assistant)};
  EXPECT_EQ(prompt_count(s), 0u);
}

TEST(SourceKind, NamesAndPrefixes) {
  EXPECT_EQ(source_identifier(SourceKind::ClaudeCode), "claude-code");
  EXPECT_EQ(source_identifier(SourceKind::Codex), "codex");
  EXPECT_EQ(source_display_name(SourceKind::ClaudeCode), "Claude Code");
  EXPECT_EQ(source_display_name(SourceKind::Codex), "Codex");
  EXPECT_EQ(source_id_prefix(SourceKind::ClaudeCode), "claude");
  EXPECT_EQ(source_id_prefix(SourceKind::Codex), "codex");
}

TEST(LineIdentityTest, EqualTextsOnly) {
  // UUIDs in Claude Code's form, near misses of that form, and other texts.
  const std::string_view texts[] = {
      "00000000-0000-4000-8000-000000000001",
      "00000000-0000-4000-8000-000000000002",
      "10000000-0000-4000-8000-000000000001",
      "00000000-0000-4000-8000-00000000000A",
      "00000000-0000-4000-8000-00000000000a",
      "00000000-0000-4000-8000_000000000001",
      "00000000000000004000800000000000000001",
      "msg-1",
      "msg-2",
      "",
      "[trimmed]",
  };
  for (std::string_view a : texts) {
    EXPECT_EQ(line_identity(a), line_identity(std::string(a))) << a;
    for (std::string_view b : texts) {
      if (a != b) {
        EXPECT_NE(line_identity(a), line_identity(b)) << a << " " << b;
      }
    }
  }
  // A canonical UUID is held exactly.
  const LineIdentity id = line_identity("0123abcd-4567-4def-8abc-0123456789ef");
  EXPECT_EQ(id.high, 0x0123abcd45674defull);
  EXPECT_EQ(id.low, 0x8abc0123456789efull);
}

}  // namespace
}  // namespace lorebox
