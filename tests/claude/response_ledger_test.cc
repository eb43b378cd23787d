#include "claude/response_ledger.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace lorebox {
namespace {

std::string key(std::string_view id, std::optional<std::string_view> request) {
  std::string out;
  response_key(id, request, &out);
  return out;
}

TEST(ResponseLedgerTest, KeysAndWeightsStayExact) {
  EXPECT_NE(key("msg_1", "req_1"), key("msg_1", std::nullopt));
  EXPECT_NE(key("msg_1", ""), key("msg_1", std::nullopt));
  EXPECT_NE(key("ab", "c"), key("a", "bc"));
  const uint64_t max = std::numeric_limits<uint64_t>::max();
  EXPECT_TRUE(heavier_usage({max, 1, 0, 0}, {max, 0, 0, 0}));
  EXPECT_TRUE(heavier_usage({0, 0, max, max}, {max, 1, 0, 0}));
  EXPECT_FALSE(heavier_usage({2, 0, 0, 0}, {0, 0, 1, 1}));  // a tie
}

TEST(ResponseLedgerTest, AbsorbKeepsOneTurnAndTheHeavierUsage) {
  struct Case {
    TokenUsage in_session, in_file, kept;
  };
  for (const Case& c : {Case{{1, 8, 0, 0}, {1, 108, 0, 0}, {1, 108, 0, 0}},
                        Case{{1, 108, 0, 0}, {1, 8, 0, 0}, {1, 108, 0, 0}},
                        Case{{1, 50, 0, 0}, {51, 0, 0, 0}, {1, 50, 0, 0}}}) {
    ResponseLedger session_ledger, file_ledger;
    SessionEfficiency session, file;
    session_ledger.count(key("a", "r"), c.in_session, &session);
    file_ledger.count(key("a", "r"), c.in_file, &file);
    file_ledger.count(key("b", "r"), {0, 7, 0, 0}, &file);
    session.turns += file.turns;  // what merge_into does with the counters
    add_usage({file.input, file.output, file.cache_read, file.cache_write}, &session);
    session_ledger.absorb(std::move(file_ledger), &session);
    EXPECT_EQ(session.turns, 2u);
    EXPECT_EQ(session.input, c.kept.input);
    EXPECT_EQ(session.output, c.kept.output + 7);
    EXPECT_EQ(session_ledger.size(), 2u);
  }
}

}  // namespace
}  // namespace lorebox
