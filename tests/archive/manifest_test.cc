#include "archive/manifest.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "archive/test_sessions.h"

namespace lorebox {
namespace {

using testing::make_session;
using testing::reply;
using testing::user;

std::string manifest_text(const std::vector<Session>& sessions,
                          const PackOptions& options, double generated_at) {
  return testing::rendered(
      [&](Sink& sink) { return write_manifest(sink, sessions, options, generated_at); });
}

TEST(ManifestTest, WritesTheExampleManifestExactly) {
  Session session =
      make_session("claude-9d2e", SourceKind::ClaudeCode,
                   {user("Rename the config loader\nand update callers", 1760000000.25),
                    reply("Done.", 1760000042.0, "model-a")});
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

TEST(ManifestTest, EmptyListAndEveryOptionFlipped) {
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

TEST(ManifestTest, BySourcePutsClaudeCodeFirstAndListsEmptySessions) {
  Session empty = make_session("codex-empty", SourceKind::Codex, {});
  empty.created_at = 50.0;
  const nlohmann::ordered_json parsed = nlohmann::ordered_json::parse(manifest_text(
      {make_session("codex-a", SourceKind::Codex, {user("q", 100), reply("r", 300, "m")}),
       empty,
       make_session("claude-b", SourceKind::ClaudeCode,
                    {user("p1", 200), user("p2", 250)})},
      PackOptions{}, 1.0));
  EXPECT_EQ(parsed["totals"].dump(),
            R"({"sessions":3,"prompts":3,"messages":4,"earliest":50.0,"latest":300.0})");
  EXPECT_EQ(parsed["by_source"].dump(),
            R"([{"source":"claude-code","sessions":1,"prompts":2,"messages":2},)"
            R"({"source":"codex","sessions":2,"prompts":1,"messages":2}])");
  EXPECT_EQ(
      parsed["sessions"][1].dump(),
      R"({"id":"codex-empty","source":"codex","title":"Codex session","created_at":50.0,)"
      R"("updated_at":50.0,"prompts":0,"messages":0})");
}

}  // namespace
}  // namespace lorebox
