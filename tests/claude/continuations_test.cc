#include "claude/continuations.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lorebox {
namespace {

Message prompt(const std::string& text, double time, const std::string& identity) {
  Message m;
  m.text = text;
  m.timestamp = time;
  m.has_identity = !identity.empty();
  if (m.has_identity) m.identity = line_identity(identity);
  return m;
}

Session session(const std::string& id, std::vector<Message> messages) {
  Session s;
  s.id = id;
  s.messages = std::move(messages);
  s.created_at = s.messages.front().timestamp;
  return s;
}

SharedLine shared(const std::string& identity, bool marked = false) {
  SharedLine line;
  line.identity = line_identity(identity);
  line.marked = marked;
  line.response = kNoResponse;
  line.charge = kNoCharge;
  return line;
}

std::vector<std::string> texts(const Session& s) {
  std::vector<std::string> out;
  for (const Message& m : s.messages) out.push_back(m.text);
  return out;
}

struct OwnerCase {
  const char* name;
  // Two sessions holding "u": whether each line is marked, and each
  // session's first timestamp and message count.
  bool marked_a, marked_b;
  double start_a, start_b;
  size_t extra_a, extra_b;
  bool a_owns;
};

TEST(SettleCopiedLinesTest, TheOwnerIsTheLeastMarkedEarliestSmallestSession) {
  const OwnerCase cases[] = {
      {"unmarked beats an earlier marked copy", true, false, 1, 5, 0, 0, false},
      {"earlier start wins", false, false, 1, 2, 3, 0, true},
      {"fewer messages win a tie", false, false, 1, 1, 2, 1, false},
      {"the id settles the rest", true, true, 1, 1, 0, 0, true},
  };
  for (const OwnerCase& c : cases) {
    auto build = [](const std::string& id, double start, size_t extra) {
      std::vector<Message> messages = {prompt("same", start, "u")};
      for (size_t i = 0; i < extra; ++i)
        messages.push_back(prompt("own", start + 1 + i, ""));
      return session(id, std::move(messages));
    };
    std::vector<Session> sessions = {build("claude-a", c.start_a, c.extra_a),
                                     build("claude-b", c.start_b, c.extra_b)};
    std::vector<StampedSource> sources;
    settle_copied_lines({{"claude-a", {shared("u", c.marked_a)}, {}, {}},
                         {"claude-b", {shared("u", c.marked_b)}, {}, {}}},
                        &sessions, &sources);
    size_t with_same = 0;
    std::string holder;
    for (const Session& s : sessions) {
      for (const Message& m : s.messages) {
        if (m.text == "same") {
          ++with_same;
          holder = s.id;
        }
      }
    }
    EXPECT_EQ(with_same, 1u) << c.name;
    EXPECT_EQ(holder, c.a_owns ? "claude-a" : "claude-b") << c.name;
  }
}

TEST(SettleCopiedLinesTest, CopiesGiveBackMessagesAndAccounting) {
  // b is a background copy of a's first exchange; one copied reply differs.
  std::vector<Session> sessions = {
      session("claude-a", {prompt("p1", 1, "u1"), prompt("r1", 2, "u2")}),
      session("claude-b", {prompt("p1", 1, "u1"), prompt("r1 edited", 2, "u2"),
                           prompt("p2", 3, "u3")}),
      session("claude-c", {prompt("p1", 1, "u1")}),
  };
  sessions[1].efficiency.tools = {{"Bash", 2}, {"Read", 1}};
  sessions[1].efficiency.tool_calls = 3;
  sessions[1].efficiency.turns = 3;
  sessions[1].efficiency.input = 300;
  std::vector<StampedSource> sources = {
      {{}, "claude-a"}, {{}, "claude-c"}, {{}, "codex-x"}};

  SessionLines b{"claude-b", {}, {}, {}};
  SharedLine tool_line = shared("u2", true);
  tool_line.charge = 0;
  tool_line.response = 0;
  SharedLine half_response = shared("u2", true);
  half_response.response = 1;
  b.lines = {shared("u1", false), tool_line, half_response};
  // b is marked for u2 (over all its lines with it) and, unmarked for u1,
  // holds more messages than a: it gives up both.
  b.charges = {LineCharge{{{"Bash", 2}}, {}, 2}};
  b.responses = {SharedResponse{1, {100, 0, 0, 0}}, SharedResponse{2, {100, 0, 0, 0}}};
  settle_copied_lines({{"claude-a", {shared("u1"), shared("u2")}, {}, {}},
                       b,
                       {"claude-c", {shared("u1", true)}, {}, {}}},
                      &sessions, &sources);

  ASSERT_EQ(sessions.size(), 2u);
  EXPECT_EQ(texts(sessions[0]), (std::vector<std::string>{"p1", "r1"}));
  // The reply whose text differs stays; created_at follows what remains.
  EXPECT_EQ(texts(sessions[1]), (std::vector<std::string>{"r1 edited", "p2"}));
  EXPECT_EQ(sessions[1].created_at, 2);
  const SessionEfficiency& e = sessions[1].efficiency;
  EXPECT_EQ(e.tools, (std::map<std::string, uint64_t>{{"Read", 1}}));
  EXPECT_EQ(e.tool_calls, 1u);
  // One response lost its only line; the other keeps a line of its own.
  EXPECT_EQ(e.turns, 2u);
  EXPECT_EQ(e.input, 200u);
  // claude-c held nothing else: it goes, with its stamp.
  EXPECT_EQ(sources.size(), 2u);
  EXPECT_EQ(sources[1].session_id, "codex-x");
}

}  // namespace
}  // namespace lorebox
