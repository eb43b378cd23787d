#include "archive/conversations_json.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <nlohmann/json.hpp>
#include <random>

#include "archive/test_sessions.h"

namespace lorebox {
namespace {

using testing::make_session;
using testing::reply;
using testing::user;

std::string conversations_text(const std::vector<Session>& sessions) {
  return testing::rendered([&](Sink& sink) {
    return write_conversations(sink, build_conversations(sessions));
  });
}

TEST(ConversationsJsonTest, WritesExactBytes) {
  const std::pair<std::vector<Session>, std::string> cases[] = {
      {{}, "[]"},
      {{make_session("claude-a", SourceKind::ClaudeCode, {})}, "[]"},
      {{make_session("codex-7f3a", SourceKind::Codex,
                     {user("Rename the config loader\nand update callers", 1760000000.25),
                      reply("Done.", 1760000042.0, "model-a")})},
       R"([{"id":"codex-7f3a","title":"Rename the config loader…","create_time":1760000000.25,"update_time":1760000042.0,"current_node":"n000001","default_model_slug":"model-a","mapping":{"n000000":{"id":"n000000","parent":null,"message":{"id":"codex-7f3a-n000000","author":{"role":"user"},"create_time":1760000000.25,"content":{"content_type":"text","parts":["Rename the config loader\nand update callers"]},"metadata":{}}},"n000001":{"id":"n000001","parent":"n000000","message":{"id":"codex-7f3a-n000001","author":{"role":"assistant"},"create_time":1760000042.0,"content":{"content_type":"text","parts":["Done."]},"metadata":{"model_slug":"model-a"}}}},"lorebox":{"source":"codex"}}])"},
      {{make_session("claude-x", SourceKind::ClaudeCode,
                     {user("Tab\t\"q\" \\ \x01 \xC3\xA9", 5.5)})},
       R"([{"id":"claude-x","title":"Tab\t\"q\" \\ \u0001 é","create_time":5.5,"update_time":5.5,"current_node":"n000000","mapping":{"n000000":{"id":"n000000","parent":null,"message":{"id":"claude-x-n000000","author":{"role":"user"},"create_time":5.5,"content":{"content_type":"text","parts":["Tab\t\"q\" \\ \u0001 é"]},"metadata":{}}}},"lorebox":{"source":"claude-code"}}])"},
  };
  for (const auto& [sessions, expected] : cases)
    EXPECT_EQ(conversations_text(sessions), expected);
}

TEST(ConversationsJsonTest, LastModelAndProjectFollowTheSession) {
  Session session = make_session("claude-s", SourceKind::ClaudeCode,
                                 {user("Hi", 10), reply("A", 11, "old"),
                                  reply("B", 12, ""), reply("C", 13, std::nullopt)});
  session.project = "/home/u/app";
  const nlohmann::ordered_json parsed = nlohmann::ordered_json::parse(
      conversations_text({session, make_session("codex-n", SourceKind::Codex,
                                                {reply("R", 21, std::nullopt)})}));
  const auto& first = parsed[0];
  // The last model given wins, even an empty one.
  EXPECT_EQ(first["default_model_slug"], "");
  EXPECT_EQ(first["current_node"], "n000003");
  EXPECT_EQ(first["update_time"], 13.0);
  EXPECT_EQ(first["lorebox"].dump(),
            R"({"source":"claude-code","project":"/home/u/app"})");
  EXPECT_EQ(first["mapping"]["n000003"]["message"]["metadata"].dump(), "{}");
  EXPECT_FALSE(parsed[1].contains("default_model_slug"));
}

TEST(ConversationsJsonTest, NodeIdsAndTheirByteOrder) {
  const std::pair<uint64_t, const char*> ids[] = {{0, "n000000"},
                                                  {999999, "n999999"},
                                                  {1000000, "n1000000"},
                                                  {UINT64_MAX, "n18446744073709551615"}};
  for (const auto& [position, expected] : ids) EXPECT_EQ(node_id(position), expected);

  std::mt19937_64 random(7);
  const uint64_t limits[] = {1000, 2000000, 100000000, UINT64_MAX};
  for (int i = 0; i < 100000; ++i) {
    const uint64_t a = random() % limits[i % 4];
    const uint64_t b = random() % limits[(i / 4) % 4];
    ASSERT_EQ(node_id_less(a, b), node_id(a) < node_id(b)) << a << " " << b;
  }
  EXPECT_TRUE(node_id_less(100000, 1000000));  // a prefix sorts first
  EXPECT_FALSE(node_id_less(5, 5));
}

// Collects the node ids of the mapping as they stream past, without keeping
// the document: every node object begins with {"id":"n.
class NodeIdSink : public Sink {
 public:
  Result<void> write(std::string_view bytes) override {
    static constexpr std::string_view kStart = "{\"id\":\"n";
    pending_.append(bytes);
    size_t done = 0;
    for (size_t at; (at = pending_.find(kStart, done)) != std::string::npos;) {
      const size_t end = pending_.find('"', at + kStart.size());
      if (end == std::string::npos) break;
      ids.push_back(
          pending_.substr(at + kStart.size() - 1, end - at - kStart.size() + 1));
      done = end;
    }
    pending_.erase(
        0, std::max(done, pending_.size() - std::min<size_t>(24, pending_.size())));
    return {};
  }
  std::vector<std::string> ids;

 private:
  std::string pending_;
};

TEST(ConversationsJsonTest, MillionAndOneMessagesWriteMappingInByteOrder) {
  constexpr uint64_t kCount = 1000001;
  Session session;
  session.id = "claude-big";
  session.messages.assign(kCount, user("x", 1.0));
  NodeIdSink sink;
  ASSERT_TRUE(write_conversations(sink, build_conversations({session})).has_value());
  ASSERT_EQ(sink.ids.size(), kCount);
  // Strictly increasing: every id once, in byte order.
  EXPECT_EQ(std::adjacent_find(sink.ids.begin(), sink.ids.end(), std::greater_equal<>()),
            sink.ids.end());
  const auto where = std::find(sink.ids.begin(), sink.ids.end(), "n1000000");
  ASSERT_NE(where, sink.ids.end());
  EXPECT_EQ(where[-1], "n100000");
  EXPECT_EQ(where[1], "n100001");
}

}  // namespace
}  // namespace lorebox
