#include "history/legacy_history.h"

#include <gtest/gtest.h>

#include "history/recovery_support.h"

namespace lorebox {
namespace {

using testing::msg;
using testing::Texts;
const SourceKind kClaude = SourceKind::ClaudeCode;
const std::string kPasted = R"({"1":{"content":"body"}})";

Session session(SourceKind source, std::optional<std::string> project,
                std::vector<Message> messages) {
  Session s;
  s.source = source;
  s.id = std::string(source_id_prefix(source)) + "-t";
  s.project = std::move(project);
  s.messages = std::move(messages);
  return s;
}

// A history line without "sessionId"; no "project" member when it is empty.
std::string legacy(const std::string& display, int64_t millis, const std::string& project,
                   const std::string& pasted = "{}") {
  std::string line = R"({"display":")" + display + R"(","pastedContents":)" + pasted +
                     R"(,"timestamp":)" + std::to_string(millis);
  if (!project.empty()) line += R"(,"project":")" + project + "\"";
  return line + "}";
}

RecoveryCounts recover(std::vector<Session>& sessions,
                       const std::vector<std::string>& lines) {
  return testing::recover(sessions, kClaude, lines);
}

struct LegacyCase {
  std::string name;
  std::vector<Session> before;
  std::vector<std::string> history;
  uint64_t recovered, rebuilt;
  std::vector<Texts> after;  // message texts of each session, in list order
};

void PrintTo(const LegacyCase& c, std::ostream* out) { *out << c.name; }

class LegacyHistoryTest : public ::testing::TestWithParam<LegacyCase> {};

TEST_P(LegacyHistoryTest, RebuildsByProjectAndTime) {
  const LegacyCase& c = GetParam();
  std::vector<Session> sessions = c.before;
  RecoveryCounts counts = recover(sessions, c.history);
  EXPECT_EQ(counts.recovered_prompts, c.recovered);
  EXPECT_EQ(counts.rebuilt_sessions, c.rebuilt);
  std::vector<Texts> after;
  for (const Session& s : sessions) {
    after.emplace_back();
    for (const Message& m : s.messages) after.back().push_back(m.text);
  }
  EXPECT_EQ(after, c.after);
}

Session typed(std::optional<std::string> project, std::string text, double time = 1,
              Role role = Role::User, SourceKind source = kClaude) {
  return session(source, std::move(project), {msg(std::move(text), time, role)});
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, LegacyHistoryTest, ::testing::Values(
    // Step 1: held by a session of the same project, as a user message.
    LegacyCase{"PresentByText", {typed("/p", "hi")}, {legacy("hi", 9000, "/p")},
        0, 0, {{"hi"}}},
    // One copy stands for one prompt: lines within 2 s are one prompt, lines
    // further apart are two.
    LegacyCase{"CopyHoldsRewritten", {typed("/p", "hi")},
        {legacy("hi", 9000, "/p"), legacy("hi", 10500, "/p")}, 0, 0, {{"hi"}}},
    LegacyCase{"CopyHoldsOneOfTwo", {typed("/p", "hi")},
        {legacy("hi", 9000, "/p"), legacy("hi", 100000, "/p")}, 1, 1, {{"hi"}, {"hi"}}},
    LegacyCase{"AbsentProjectEqualsAbsent", {typed(std::nullopt, "hi")},
        {legacy("hi", 9000, "")}, 0, 0, {{"hi"}}},
    LegacyCase{"OtherProject", {typed("/p", "hi")}, {legacy("hi", 9000, "/q")},
        1, 1, {{"hi"}, {"hi"}}},
    LegacyCase{"ReplyDoesNotHold", {typed("/p", "hi", 1, Role::Assistant)},
        {legacy("hi", 9000, "/p")}, 1, 1, {{"hi"}, {"hi"}}},
    // Sessions rebuilt from entries with an id count as present.
    LegacyCase{"HeldByRebuiltWithId", {},
        {R"({"display":"hi","timestamp":1000,"project":"/p","sessionId":"a"})",
         legacy("hi", 9000, "/p")}, 1, 1, {{"hi"}}},
    // The pasted-text window: at most 2.0 seconds either side.
    LegacyCase{"PastedWithinWindow", {typed("/p", "see <pasted>", 98)},
        {legacy("see", 100000, "/p", kPasted)}, 0, 0, {{"see <pasted>"}}},
    LegacyCase{"PastedAtWindowEdge", {typed("/p", "see <pasted>", 102)},
        {legacy("see", 100000, "/p", kPasted)}, 0, 0, {{"see <pasted>"}}},
    LegacyCase{"PastedPastWindow", {typed("/p", "see <pasted>", 102.5)},
        {legacy("see", 100000, "/p", kPasted)}, 1, 1, {{"see <pasted>"}, {"see\nbody"}}},
    // Step 2: a pause of exactly 1800 s stays in the session; just past it
    // starts a new one. A line repeated within 2 s adds nothing but still
    // counts; a prompt retyped later is added again.
    LegacyCase{"GapOfExactly1800", {},
        {legacy("a", 1000000, "/p"), legacy("b", 2800000, "/p")}, 2, 1, {{"a", "b"}}},
    LegacyCase{"GapJustPast1800", {},
        {legacy("a", 1000000, "/p"), legacy("b", 2800001, "/p")}, 2, 2, {{"a"}, {"b"}}},
    LegacyCase{"RepeatCountsForGaps", {},
        {legacy("a", 0, "/p"), legacy("a", 1500, "/p"), legacy("b", 1801000, "/p")},
        2, 1, {{"a", "b"}}},
    LegacyCase{"RetypedLater", {},
        {legacy("a", 0, "/p"), legacy("a", 1500000, "/p"), legacy("b", 3000000, "/p")},
        3, 1, {{"a", "a", "b"}}},
    // Time order, not file order, decides the gaps and the session order.
    LegacyCase{"TimeOrder", {},
        {legacy("c", 5000000, "/p"), legacy("a", 1000000, "/p"), legacy("b", 3000000, "/p")},
        3, 3, {{"a"}, {"b"}, {"c"}}},
    LegacyCase{"ProjectsApart", {},
        {legacy("x", 10000, "/q"), legacy("y", 5000, "/p"), legacy("z", 20000, "/p"),
         legacy("w", 7000, "")},
        4, 3, {{"y", "z"}, {"w"}, {"x"}}}),
    [](const ::testing::TestParamInfo<LegacyCase>& param) { return param.param.name; });
// clang-format on

TEST(LegacyHistoryFieldsTest, RebuiltSessionsHaveStableHashedIds) {
  const std::vector<std::string> history = {legacy("a", 1748000000000, "/home/u/app"),
                                            legacy("b", 1748003600001, "/home/u/app"),
                                            legacy("c", 1748000002000, "")};
  std::vector<Session> first;
  recover(first, history);
  std::vector<Session> second;
  recover(second, history);
  ASSERT_EQ(first.size(), 3u);
  ASSERT_EQ(second.size(), 3u);
  // The first value was computed by an independent SipHash-1-3 over
  // "/home/u/app", 0xFF and "1748000000.0".
  EXPECT_EQ(first[0].id, "claude-history-73e202de6f76dea3");
  for (size_t i = 0; i < first.size(); ++i) {
    EXPECT_EQ(first[i].id, second[i].id);
    EXPECT_EQ(first[i].id.size(), std::string("claude-history-").size() + 16);
    EXPECT_FALSE(first[i].title);
    EXPECT_EQ(first[i].source, kClaude);
  }
  EXPECT_NE(first[1].id, first[2].id);
  EXPECT_EQ(first[0].project, "/home/u/app");
  EXPECT_EQ(first[1].project, std::nullopt);
  EXPECT_EQ(first[1].created_at, 1748000002.0);
  EXPECT_EQ(first[2].created_at, 1748003600.001);
}

}  // namespace
}  // namespace lorebox
