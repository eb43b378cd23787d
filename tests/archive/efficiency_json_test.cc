#include "archive/efficiency_json.h"

#include <gtest/gtest.h>

#include <limits>
#include <nlohmann/json.hpp>

#include "archive/test_sessions.h"

namespace lorebox {
namespace {

std::string efficiency_text(const std::vector<Session>& sessions) {
  return testing::rendered([&](Sink& sink) { return write_efficiency(sink, sessions); });
}

TEST(EfficiencyJsonTest, WritesExactBytesWithMembersInByteOrder) {
  Session full = testing::make_session("claude-9d2e", SourceKind::ClaudeCode, {});
  full.created_at = 1760000000.25;
  full.efficiency.failed_calls = 1;
  full.efficiency.repeated_calls = 2;
  full.efficiency.cache_read = 48210;
  full.efficiency.cache_write = 5120;
  full.efficiency.input = 312;
  full.efficiency.output = 2048;
  full.efficiency.tool_calls = 14;
  full.efficiency.tool_result_bytes = 90211;
  full.efficiency.turns = 9;
  full.efficiency.whole_file_reads = 2;
  full.efficiency.commands = {{"npm test", 2}, {"git status", 3}};
  full.efficiency.tools = {{"Edit", 3}, {"Read", 5}, {"Bash", 6}};
  // Token counts only, with a start time that is not a number.
  Session tokens = testing::make_session("codex-t", SourceKind::Codex, {});
  tokens.created_at = std::numeric_limits<double>::quiet_NaN();
  tokens.efficiency.turns = 2;
  tokens.efficiency.reasoning = 99;
  Session quiet = testing::make_session("codex-q", SourceKind::Codex, {});
  quiet.efficiency.input = 500;  // no turns, tool calls or cache reads: no entry

  EXPECT_EQ(
      efficiency_text({full, quiet, tokens}),
      R"({"format":"lorebox-efficiency/1","sessions":[)"
      R"({"failed_calls":1,"id":"claude-9d2e","repeated_calls":2,"source":"claude-code","started_at":1760000000.25,"tokens":{"cache_read":48210,"cache_write":5120,"input":312,"output":2048,"reasoning":0},"tool_calls":14,"tool_result_bytes":90211,"top_commands":[["git status",3],["npm test",2]],"top_tools":[["Bash",6],["Read",5],["Edit",3]],"turns":9,"whole_file_reads":2},)"
      R"({"failed_calls":0,"id":"codex-t","repeated_calls":0,"source":"codex","started_at":null,"tokens":{"cache_read":0,"cache_write":0,"input":0,"output":0,"reasoning":99},"tool_calls":0,"tool_result_bytes":0,"top_commands":[],"top_tools":[],"turns":2,"whole_file_reads":0}]})");
}

TEST(EfficiencyJsonTest, EntryOnlyWhenTurnsToolCallsOrCacheReads) {
  // {turns, tool_calls, cache_read, expected}
  const std::tuple<uint64_t, uint64_t, uint64_t, bool> cases[] = {
      {0, 0, 0, false}, {1, 0, 0, true}, {0, 3, 0, true}, {0, 0, 7, true}};
  for (const auto& [turns, tool_calls, cache_read, expected] : cases) {
    Session session;
    session.efficiency.turns = turns;
    session.efficiency.tool_calls = tool_calls;
    session.efficiency.cache_read = cache_read;
    EXPECT_EQ(has_accounting(session), expected);
    EXPECT_EQ(any_accounting({Session{}, session}), expected);
    EXPECT_EQ(nlohmann::json::parse(efficiency_text({session}))["sessions"].size(),
              expected ? 1u : 0u);
  }
}

}  // namespace
}  // namespace lorebox
