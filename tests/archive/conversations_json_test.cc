#include "archive/conversations_json.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

namespace lorebox {
namespace {

Message user(std::string text, double at) {
  return Message{std::move(text), std::nullopt, at, Role::User};
}
Message reply(std::string text, double at, std::optional<std::string> model) {
  return Message{std::move(text), std::move(model), at, Role::Assistant};
}

Session make_session(std::string id, SourceKind source, std::vector<Message> messages) {
  Session session;
  session.id = std::move(id);
  session.source = source;
  session.messages = std::move(messages);
  if (!session.messages.empty()) session.created_at = session.messages.front().timestamp;
  return session;
}

std::string conversations_text(const std::vector<Session>& sessions) {
  StringSink sink;
  Result<void> written = write_conversations(sink, build_conversations(sessions));
  EXPECT_TRUE(written.has_value());
  return sink.text();
}

TEST(ConversationsJsonTest, WritesTheDocumentedExampleByteForByte) {
  const std::vector<Session> sessions = {make_session(
      "codex-7f3a", SourceKind::Codex,
      {user("Rename the config loader\nand update callers", 1760000000.25),
       reply("Done.", 1760000042.0, "model-a")})};
  EXPECT_EQ(
      conversations_text(sessions),
      R"([{"id":"codex-7f3a","title":"Rename the config loader…","create_time":1760000000.25,"update_time":1760000042.0,"current_node":"n000001","default_model_slug":"model-a","mapping":{"n000000":{"id":"n000000","parent":null,"message":{"id":"codex-7f3a-n000000","author":{"role":"user"},"create_time":1760000000.25,"content":{"content_type":"text","parts":["Rename the config loader\nand update callers"]},"metadata":{}}},"n000001":{"id":"n000001","parent":"n000000","message":{"id":"codex-7f3a-n000001","author":{"role":"assistant"},"create_time":1760000042.0,"content":{"content_type":"text","parts":["Done."]},"metadata":{"model_slug":"model-a"}}}},"lorebox":{"source":"codex"}}])");
}

TEST(ConversationsJsonTest, EmptyListAndSessionsWithoutMessagesGiveEmptyArray) {
  EXPECT_EQ(conversations_text({}), "[]");
  EXPECT_EQ(conversations_text({make_session("claude-a", SourceKind::ClaudeCode, {}),
                                make_session("codex-b", SourceKind::Codex, {})}),
            "[]");
}

TEST(ConversationsJsonTest, SingleMessageWithoutModelOrProject) {
  Session session =
      make_session("claude-x", SourceKind::ClaudeCode, {user("Tab\there \"q\" \\ \x01 \xC3\xA9", 5.5)});
  EXPECT_EQ(
      conversations_text({session}),
      R"([{"id":"claude-x","title":"Tab\there \"q\" \\ \u0001 é","create_time":5.5,"update_time":5.5,"current_node":"n000000","mapping":{"n000000":{"id":"n000000","parent":null,"message":{"id":"claude-x-n000000","author":{"role":"user"},"create_time":5.5,"content":{"content_type":"text","parts":["Tab\there \"q\" \\ \u0001 é"]},"metadata":{}}}},"lorebox":{"source":"claude-code"}}])");
}

TEST(ConversationsJsonTest, ConversationFieldsFollowTheSession) {
  Session empty = make_session("claude-empty", SourceKind::ClaudeCode, {});
  Session session = make_session(
      "claude-s", SourceKind::ClaudeCode,
      {user("Hi", 10.0), reply("A", 11.0, "model-old"), reply("B", 12.0, std::nullopt),
       reply("C", 13.0, std::string("")), reply("D", 14.0, std::nullopt)});
  session.project = "/home/u/app";
  session.title = "Stored";
  Session no_models = make_session("codex-n", SourceKind::Codex,
                                   {user("Q", 20.0), reply("R", 21.0, std::nullopt)});

  const std::vector<Session> sessions = {empty, session, no_models};
  const std::vector<Conversation> conversations = build_conversations(sessions);
  ASSERT_EQ(conversations.size(), 2u);
  EXPECT_EQ(conversations[0].id, "claude-s");
  EXPECT_EQ(conversations[0].title, "Stored");
  EXPECT_EQ(conversations[0].create_time, 10.0);
  EXPECT_EQ(conversations[0].update_time, 14.0);
  // The last model given wins, even an empty one.
  ASSERT_TRUE(conversations[0].default_model_slug.has_value());
  EXPECT_EQ(*conversations[0].default_model_slug, "");
  EXPECT_EQ(conversations[0].project, std::optional<std::string_view>("/home/u/app"));
  EXPECT_FALSE(conversations[1].default_model_slug.has_value());

  const nlohmann::ordered_json parsed =
      nlohmann::ordered_json::parse(conversations_text(sessions));
  ASSERT_EQ(parsed.size(), 2u);
  const auto& first = parsed[0];
  EXPECT_EQ(first["current_node"], "n000004");
  EXPECT_EQ(first["default_model_slug"], "");
  EXPECT_EQ(first["lorebox"].dump(), R"({"source":"claude-code","project":"/home/u/app"})");
  EXPECT_EQ(first["mapping"]["n000003"]["parent"], "n000002");
  EXPECT_EQ(first["mapping"]["n000003"]["message"]["metadata"].dump(), R"({"model_slug":""})");
  EXPECT_EQ(first["mapping"]["n000002"]["message"]["metadata"].dump(), "{}");
  const auto& second = parsed[1];
  EXPECT_FALSE(second.contains("default_model_slug"));
  EXPECT_EQ(second["lorebox"].dump(), R"({"source":"codex"})");
  // Member order of a conversation.
  std::vector<std::string> keys;
  for (const auto& item : first.items()) keys.push_back(item.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"id", "title", "create_time", "update_time",
                                            "current_node", "default_model_slug", "mapping",
                                            "lorebox"}));
}

struct NodeIdCase {
  uint64_t position;
  const char* expected;
};

TEST(ConversationsJsonTest, NodeIdsArePaddedToAtLeastSixDigits) {
  const NodeIdCase cases[] = {
      {0, "n000000"},        {7, "n000007"},          {999999, "n999999"},
      {1000000, "n1000000"}, {12345678, "n12345678"},
      {UINT64_MAX, "n18446744073709551615"},
  };
  for (const NodeIdCase& c : cases) EXPECT_EQ(node_id(c.position), c.expected);
}

TEST(ConversationsJsonTest, NodeIdOrderIsByteOrder) {
  std::mt19937_64 random(7);
  const uint64_t limits[] = {1000, 2000000, 100000000, UINT64_MAX};
  for (int i = 0; i < 100000; ++i) {
    const uint64_t a = random() % limits[i % 4];
    const uint64_t b = random() % limits[(i / 4) % 4];
    EXPECT_EQ(node_id_less(a, b), node_id(a) < node_id(b)) << a << " " << b;
  }
  // Prefix relations: the shorter id sorts first.
  EXPECT_TRUE(node_id_less(100000, 1000000));
  EXPECT_FALSE(node_id_less(1000000, 100000));
  EXPECT_TRUE(node_id_less(1000000, 100001));
  EXPECT_FALSE(node_id_less(5, 5));
}

TEST(ConversationsJsonTest, NodeOrderIsAPermutationInIncreasingIdOrder) {
  // n1000000 .. n1000499 all sort between n100000 and n100001.
  for (uint64_t count : {0ull, 1ull, 1000001ull, 1000500ull}) {
    const std::vector<uint64_t> order = node_order(count);
    ASSERT_EQ(order.size(), count);
    std::vector<bool> seen(count, false);
    std::string previous;
    for (uint64_t i = 0; i < count; ++i) {
      ASSERT_LT(order[i], count);
      ASSERT_FALSE(seen[order[i]]);
      seen[order[i]] = true;
      const std::string id = node_id(order[i]);
      ASSERT_LT(previous, id) << "count " << count << " index " << i;
      previous = id;
    }
  }
}

// Collects the node ids of the mapping as they stream past, without keeping
// the document: every node object begins with {"id":"n.
class NodeIdSink : public Sink {
 public:
  Result<void> write(std::string_view bytes) override {
    pending_.append(bytes);
    static constexpr std::string_view kStart = "{\"id\":\"n";
    size_t done = 0;
    for (size_t at = pending_.find(kStart); at != std::string::npos;
         at = pending_.find(kStart, done)) {
      const size_t end = pending_.find('"', at + kStart.size());
      if (end == std::string::npos) break;
      ids.push_back(pending_.substr(at + kStart.size() - 1, end - at - kStart.size() + 1));
      done = end;
    }
    const size_t keep = pending_.size() > 24 ? pending_.size() - 24 : 0;
    pending_.erase(0, std::max(done, keep));
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
  session.messages.reserve(kCount);
  for (uint64_t i = 0; i < kCount; ++i)
    session.messages.push_back(user("x", static_cast<double>(i)));
  NodeIdSink sink;
  ASSERT_TRUE(write_conversations(sink, build_conversations({session})).has_value());
  ASSERT_EQ(sink.ids.size(), kCount);
  const auto at = [&](std::string_view id) {
    return std::find(sink.ids.begin(), sink.ids.end(), id) - sink.ids.begin();
  };
  EXPECT_EQ(at("n1000000"), at("n100000") + 1);
  EXPECT_LT(at("n1000000"), at("n100001"));
  EXPECT_TRUE(std::is_sorted(sink.ids.begin(), sink.ids.end()));
}

}  // namespace
}  // namespace lorebox
