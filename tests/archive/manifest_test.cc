#include "archive/manifest.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

namespace lorebox {
namespace {

std::string manifest_text(const std::vector<Session>& sessions, const PackOptions& options,
                          double generated_at) {
  StringSink sink;
  EXPECT_TRUE(write_manifest(sink, sessions, options, generated_at).has_value());
  return sink.text();
}

Session make_session(std::string id, SourceKind source, std::vector<Message> messages) {
  Session session;
  session.id = std::move(id);
  session.source = source;
  session.messages = std::move(messages);
  if (!session.messages.empty()) session.created_at = session.messages.front().timestamp;
  return session;
}

TEST(ManifestTest, WritesTheDocumentedExampleByteForByte) {
  Session session = make_session(
      "claude-9d2e", SourceKind::ClaudeCode,
      {Message{"Rename the config loader\nand update callers", std::nullopt, 1760000000.25,
               Role::User},
       Message{"Done.", std::string("model-a"), 1760000042.0, Role::Assistant}});
  session.project = "/home/u/app";
  EXPECT_EQ(manifest_text({session}, PackOptions{}, 1760003600.5), R"({
  "format": "lorebox/1",
  "tool": "lorebox",
  "tool_version": "0.1.2",
  "generated_at": 1760003600.5,
  "options": {
    "include_usage": true,
    "include_assistant": true,
    "include_subagents": false,
    "include_history": true,
    "redacted": true,
    "max_message_chars": null
  },
  "totals": {
    "sessions": 1,
    "prompts": 1,
    "messages": 2,
    "earliest": 1760000000.25,
    "latest": 1760000042.0
  },
  "by_source": [
    {
      "source": "claude-code",
      "sessions": 1,
      "prompts": 1,
      "messages": 2
    }
  ],
  "sessions": [
    {
      "id": "claude-9d2e",
      "source": "claude-code",
      "title": "Rename the config loader…",
      "project": "/home/u/app",
      "created_at": 1760000000.25,
      "updated_at": 1760000042.0,
      "prompts": 1,
      "messages": 2
    }
  ]
})");
}

TEST(ManifestTest, EmptyListLeavesOutEarliestAndLatest) {
  PackOptions options;
  options.max_message_chars = 2000;
  options.redact = false;
  options.include_usage = false;
  options.include_assistant = false;
  options.include_subagents = true;
  options.include_history = false;
  EXPECT_EQ(manifest_text({}, options, 0.0), R"({
  "format": "lorebox/1",
  "tool": "lorebox",
  "tool_version": "0.1.2",
  "generated_at": 0.0,
  "options": {
    "include_usage": false,
    "include_assistant": false,
    "include_subagents": true,
    "include_history": false,
    "redacted": false,
    "max_message_chars": 2000
  },
  "totals": {
    "sessions": 0,
    "prompts": 0,
    "messages": 0
  },
  "by_source": [],
  "sessions": []
})");
}

TEST(ManifestTest, TotalsBySourceAndSessionsAgree) {
  Session codex = make_session("codex-a", SourceKind::Codex,
                               {Message{"q", std::nullopt, 100.0, Role::User},
                                Message{"r", std::nullopt, 300.0, Role::Assistant}});
  Session empty = make_session("codex-empty", SourceKind::Codex, {});
  empty.created_at = 50.0;
  Session claude = make_session("claude-b", SourceKind::ClaudeCode,
                                {Message{"p1", std::nullopt, 200.0, Role::User},
                                 Message{"p2", std::nullopt, 250.0, Role::User}});
  const nlohmann::ordered_json parsed = nlohmann::ordered_json::parse(
      manifest_text({codex, empty, claude}, PackOptions{}, 1.0));

  const auto& totals = parsed["totals"];
  EXPECT_EQ(totals["sessions"], 3);
  EXPECT_EQ(totals["prompts"], 3);
  EXPECT_EQ(totals["messages"], 4);
  EXPECT_EQ(totals["earliest"], 50.0);
  EXPECT_EQ(totals["latest"], 300.0);

  // Claude Code first although its session comes last in the list.
  ASSERT_EQ(parsed["by_source"].size(), 2u);
  EXPECT_EQ(parsed["by_source"][0].dump(),
            R"({"source":"claude-code","sessions":1,"prompts":2,"messages":2})");
  EXPECT_EQ(parsed["by_source"][1].dump(),
            R"({"source":"codex","sessions":2,"prompts":1,"messages":2})");

  ASSERT_EQ(parsed["sessions"].size(), 3u);
  const auto& listed_empty = parsed["sessions"][1];
  EXPECT_EQ(listed_empty.dump(),
            R"({"id":"codex-empty","source":"codex","title":"Codex session","created_at":50.0,"updated_at":50.0,"prompts":0,"messages":0})");
}

TEST(ManifestTest, OnlyCodexGivesOneBySourceEntry) {
  Session codex = make_session("codex-a", SourceKind::Codex,
                               {Message{"q", std::nullopt, 100.0, Role::User}});
  const nlohmann::json parsed =
      nlohmann::json::parse(manifest_text({codex}, PackOptions{}, 1.0));
  ASSERT_EQ(parsed["by_source"].size(), 1u);
  EXPECT_EQ(parsed["by_source"][0]["source"], "codex");
}

}  // namespace
}  // namespace lorebox
