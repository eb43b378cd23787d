#include "archive/efficiency_json.h"

#include <gtest/gtest.h>

#include <limits>
#include <nlohmann/json.hpp>
#include <string>

namespace lorebox {
namespace {

std::string efficiency_text(const std::vector<Session>& sessions) {
  StringSink sink;
  EXPECT_TRUE(write_efficiency(sink, sessions).has_value());
  return sink.text();
}

Session documented_session() {
  Session session;
  session.id = "claude-9d2e";
  session.source = SourceKind::ClaudeCode;
  session.created_at = 1760000000.25;
  SessionEfficiency& e = session.efficiency;
  e.failed_calls = 1;
  e.repeated_calls = 2;
  e.cache_read = 48210;
  e.cache_write = 5120;
  e.input = 312;
  e.output = 2048;
  e.tool_calls = 14;
  e.tool_result_bytes = 90211;
  e.turns = 9;
  e.whole_file_reads = 2;
  e.commands = {{"npm test", 2}, {"git status", 3}};
  e.tools = {{"Edit", 3}, {"Read", 5}, {"Bash", 6}};
  return session;
}

TEST(EfficiencyJsonTest, WritesTheDocumentedEntryByteForByte) {
  EXPECT_EQ(
      efficiency_text({documented_session()}),
      R"({"format":"lorebox-efficiency/1","sessions":[{"failed_calls":1,"id":"claude-9d2e","repeated_calls":2,"source":"claude-code","started_at":1760000000.25,"tokens":{"cache_read":48210,"cache_write":5120,"input":312,"output":2048,"reasoning":0},"tool_calls":14,"tool_result_bytes":90211,"top_commands":[["git status",3],["npm test",2]],"top_tools":[["Bash",6],["Read",5],["Edit",3]],"turns":9,"whole_file_reads":2}]})");
}

struct AccountingCase {
  const char* name;
  uint64_t turns;
  uint64_t tool_calls;
  uint64_t cache_read;
  uint64_t input;
  bool expected;
};

TEST(EfficiencyJsonTest, EntryOnlyWhenTurnsToolCallsOrCacheReads) {
  const AccountingCase cases[] = {
      {"nothing", 0, 0, 0, 0, false},
      {"input alone is not enough", 0, 0, 0, 500, false},
      {"turns", 1, 0, 0, 0, true},
      {"tool calls without usage", 0, 3, 0, 0, true},
      {"cache reads", 0, 0, 7, 0, true},
  };
  for (const AccountingCase& c : cases) {
    Session session;
    session.id = "codex-1";
    session.source = SourceKind::Codex;
    session.efficiency.turns = c.turns;
    session.efficiency.tool_calls = c.tool_calls;
    session.efficiency.cache_read = c.cache_read;
    session.efficiency.input = c.input;
    EXPECT_EQ(has_accounting(session), c.expected) << c.name;
    EXPECT_EQ(any_accounting({Session{}, session}), c.expected) << c.name;
    const nlohmann::json parsed = nlohmann::json::parse(efficiency_text({session}));
    EXPECT_EQ(parsed["sessions"].size(), c.expected ? 1u : 0u) << c.name;
  }
}

TEST(EfficiencyJsonTest, TokenOnlySessionHasEmptyTopListsAndNullStart) {
  Session accounted;
  accounted.id = "codex-t";
  accounted.source = SourceKind::Codex;
  accounted.created_at = std::numeric_limits<double>::quiet_NaN();
  accounted.efficiency.turns = 2;
  accounted.efficiency.reasoning = 99;
  Session quiet;
  quiet.id = "codex-q";
  EXPECT_EQ(
      efficiency_text({quiet, accounted, quiet}),
      R"({"format":"lorebox-efficiency/1","sessions":[{"failed_calls":0,"id":"codex-t","repeated_calls":0,"source":"codex","started_at":null,"tokens":{"cache_read":0,"cache_write":0,"input":0,"output":0,"reasoning":99},"tool_calls":0,"tool_result_bytes":0,"top_commands":[],"top_tools":[],"turns":2,"whole_file_reads":0}]})");
}

TEST(EfficiencyJsonTest, MembersAreInByteOrderAndEntriesInListOrder) {
  Session first = documented_session();
  Session second = documented_session();
  second.id = "codex-2";
  second.source = SourceKind::Codex;
  // nlohmann's default object keeps members sorted by name: dumping the
  // parsed document reproduces ours only when our order is byte order.
  const std::string text = efficiency_text({first, second});
  const nlohmann::json parsed = nlohmann::json::parse(text);
  ASSERT_EQ(parsed["sessions"].size(), 2u);
  EXPECT_EQ(parsed["sessions"][0]["id"], "claude-9d2e");
  EXPECT_EQ(parsed["sessions"][1]["id"], "codex-2");
  // started_at 1760000000.25 prints the same in both writers.
  EXPECT_EQ(parsed.dump(), text);
}

}  // namespace
}  // namespace lorebox
