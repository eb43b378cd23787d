#include "codex/codex_reader.h"

#include <gtest/gtest.h>
#include <zstd.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "time/timestamp.h"

namespace lorebox {
namespace {

const double kBase = *parse_timestamp("2025-05-01T10:00:00Z");
const std::string kSecret = "ghp_" + std::string(36, 'A');

// "2025-05-01T10:00:SSZ", kBase + second.
std::string at(int second) {
  return "2025-05-01T10:00:" + std::string(second < 10 ? "0" : "") +
         std::to_string(second) + "Z";
}

std::string line(std::string_view type, std::string_view payload, int second = 0) {
  return R"({"timestamp":")" + at(second) + R"(","type":")" + std::string(type) +
         R"(","payload":)" + std::string(payload) + "}";
}

// A message payload; an empty id leaves the member out.
std::string item(std::string_view role, std::string_view text, std::string_view id = "") {
  nlohmann::json payload = {
      {"type", "message"},
      {"role", role},
      {"content", {{{"type", role == "user" ? "input_text" : "output_text"}, {"text", text}}}}};
  if (!id.empty()) payload["id"] = id;
  return payload.dump();
}

std::string say(std::string_view role, std::string_view text, int second,
                std::string_view id = "") {
  return line("response_item", item(role, text, id), second);
}

std::string meta(std::string_view members) {
  return line("session_meta", "{" + std::string(members) + "}");
}

std::vector<std::string> texts(const Session& session) {
  std::vector<std::string> out;
  for (const Message& m : session.messages) out.push_back(m.text);
  return out;
}

class CodexReaderTest : public ::testing::Test {
 protected:
  void rollout(std::string_view name, const std::vector<std::string>& lines,
               std::string_view root = "sessions/2025/05/01") {
    std::string text;
    for (const std::string& l : lines) text += l + "\n";
    testing::write_file(home_ / (std::string(root) + "/" + std::string(name)), text);
  }

  // The sessions read, sorted by id then first text (the walk order is the
  // directory's own).
  std::vector<Session> read(const PackOptions& options = {}) {
    Result<SourceScan> scan = read_codex_sessions(home_.path(), options);
    EXPECT_TRUE(scan.has_value()) << scan.error();
    if (!scan) return {};
    EXPECT_EQ(scan->sources.size(), scan->sessions.size());
    for (size_t i = 0; i < scan->sources.size(); ++i)
      EXPECT_EQ(scan->sources[i].session_id, scan->sessions[i].id);
    std::vector<Session> sessions = std::move(scan->sessions);
    std::stable_sort(sessions.begin(), sessions.end(), [](const Session& a, const Session& b) {
      return a.id < b.id;
    });
    return sessions;
  }

  testing::TempDir home_;
};

TEST_F(CodexReaderTest, BackgroundThreadsNeedTheFlag) {
  const struct {
    std::string first_meta;
    bool background;
  } cases[] = {
      {R"("thread_source":"subagent")", true},
      {R"("thread_source":"memory_consolidation")", true},
      {R"("source":{"subagent":"review"})", true},
      {R"("source":{"subagent":{"thread_spawn":{"depth":1}}})", true},
      {R"("source":{"internal":"x"})", true},
      {R"("thread_source":"user","source":"exec")", false},
      {R"("source":{"other":1})", false},
  };
  for (const auto& c : cases) {
    for (bool include : {false, true}) {
      testing::TempDir home;
      testing::write_file(home / "sessions/r.jsonl",
                          meta(R"("id":"t1",)" + c.first_meta) + "\n" +
                              meta(R"("id":"t2","thread_source":"subagent")") + "\n" +
                              say("user", "hi", 1) + "\n");
      PackOptions options;
      options.include_subagents = include;
      Result<SourceScan> scan = read_codex_sessions(home.path(), options);
      ASSERT_TRUE(scan.has_value());
      bool kept = !scan->sessions.empty();
      EXPECT_EQ(kept, include || !c.background) << c.first_meta << " include=" << include;
      if (kept) {
        EXPECT_EQ(scan->sessions[0].id, "codex-t1");
      }
      EXPECT_EQ(scan->skipped_files, 0u);
    }
  }
}

TEST_F(CodexReaderTest, IdsComeFromThreadIdMetaSessionIdOrFileName) {
  rollout("a.jsonl", {meta(R"("id":"thread","session_id":"meta","cwd":"/p")"),
                      meta(R"("id":"later","cwd":"/later")"), say("user", "a", 1)});
  rollout("b.jsonl", {meta(R"("id":7,"session_id":"meta-b")"), say("user", "b", 1)});
  rollout("rollout-c.jsonl", {say("user", "c", 1)});
  rollout("notes", {say("user", "d", 1)});
  rollout("empty.jsonl", {meta(R"("id":"nothing-kept")"), say("user", "", 1)});
  std::vector<Session> sessions = read();
  ASSERT_EQ(sessions.size(), 4u);
  EXPECT_EQ(sessions[0].id, "codex-meta-b");
  EXPECT_EQ(sessions[1].id, "codex-notes");
  EXPECT_EQ(sessions[2].id, "codex-rollout-c");
  EXPECT_EQ(sessions[3].id, "codex-thread");
  EXPECT_EQ(sessions[3].project, "/p");
  EXPECT_EQ(sessions[1].project, std::nullopt);
  EXPECT_EQ(sessions[3].source, SourceKind::Codex);
}

TEST_F(CodexReaderTest, CompressedRolloutGivesThePlainFilesId) {
  const std::string plain = say("user", "packed", 1) + "\n";
  std::string packed(ZSTD_compressBound(plain.size()), '\0');
  packed.resize(ZSTD_compress(packed.data(), packed.size(), plain.data(), plain.size(), 3));
  testing::write_file(home_ / "archived_sessions/rollout-z.jsonl.zst", packed);
  std::vector<Session> sessions = read();
  ASSERT_EQ(sessions.size(), 1u);
  EXPECT_EQ(sessions[0].id, "codex-rollout-z");
  EXPECT_EQ(texts(sessions[0]), std::vector<std::string>{"packed"});
}

TEST_F(CodexReaderTest, ItemIdsAreDeduplicatedPerFile) {
  const std::vector<std::string> lines = {
      meta(R"("id":"t")"),
      say("user", "<environment_context>x</environment_context>", 1, "u1"),
      say("user", "hidden by the dropped item", 2, "u1"),
      say("user", "typed", 3, "u2"),
      say("user", "typed again", 4, "u2"),
      say("assistant", "reply", 5, "a1"),
      say("assistant", "reply", 6, "a1"),
      say("user", "no id", 7),
      say("user", "no id", 8),
  };
  rollout("one.jsonl", lines);
  rollout("two.jsonl", lines, "archived_sessions");
  std::vector<Session> sessions = read();
  ASSERT_EQ(sessions.size(), 2u);  // never merged, though both are "codex-t"
  for (const Session& s : sessions) {
    EXPECT_EQ(s.id, "codex-t");
    EXPECT_EQ(texts(s), (std::vector<std::string>{"typed", "reply", "no id", "no id"}));
  }
}

TEST_F(CodexReaderTest, UserTextsAreJoinedCleanedAndInternalOnesDropped) {
  const struct {
    std::string content;
    std::optional<std::string> expected;
  } cases[] = {
      {R"([{"type":"input_text","text":"a"},{"type":"input_image"},{"type":"text","text":"b"}])",
       "a\nb"},
      {R"([{"type":"summary_text","text":"s"},"str",{"type":"output_text","text":3}])", "s"},
      {R"([{"type":"input_text","text":"  <image name=x>img</image> look  "}])", "look"},
      {R"([{"type":"input_image","image_url":"x"}])", std::nullopt},
      {R"("a plain string")", std::nullopt},
      {R"([{"type":"input_text","text":"<environment_context>cwd</environment_context>"}])",
       std::nullopt},
      {R"([{"type":"input_text","text":"# AGENTS.md instructions"}])", std::nullopt},
      {R"([{"type":"input_text","text":"Another language model started to solve this problem"}])",
       std::nullopt},
  };
  for (const auto& c : cases) {
    testing::TempDir home;
    testing::write_file(home / "sessions/r.jsonl",
                        line("response_item",
                             R"({"type":"message","role":"user","content":)" + c.content + "}", 1) +
                            "\n" + say("developer", "dev", 2) + "\n" + say("assistant", "ok", 3));
    Result<SourceScan> scan = read_codex_sessions(home.path(), {});
    ASSERT_TRUE(scan.has_value() && scan->sessions.size() == 1);
    std::vector<std::string> expected = {"ok"};
    if (c.expected) expected.insert(expected.begin(), *c.expected);
    EXPECT_EQ(texts(scan->sessions[0]), expected) << c.content;
  }
}

TEST_F(CodexReaderTest, RepliesCarryTheNearestEarlierModel) {
  rollout("r.jsonl", {say("assistant", "before", 1), line("turn_context", R"({"model":"m1"})"),
                      say("user", "q", 2), say("assistant", "first", 3),
                      line("turn_context", R"({"model":null})"), say("assistant", "second", 4),
                      line("turn_context", R"({"model":"m2"})"), say("assistant", "third", 5)});
  std::vector<Session> sessions = read();
  ASSERT_EQ(sessions.size(), 1u);
  std::vector<std::optional<std::string>> models;
  for (const Message& m : sessions[0].messages) models.push_back(m.model);
  EXPECT_EQ(models, (std::vector<std::optional<std::string>>{std::nullopt, std::nullopt, "m1",
                                                             "m1", "m2"}));
  EXPECT_EQ(sessions[0].created_at, kBase + 1);
}

TEST_F(CodexReaderTest, TokenEventsReplaceTheTotals) {
  auto tokens = [](std::string_view info) {
    return line("event_msg", R"({"type":"token_count","info":)" + std::string(info) + "}");
  };
  rollout("r.jsonl",
          {tokens(R"({"total_token_usage":{"input_tokens":100}})"),
           tokens(R"({"total_token_usage":{"input_tokens":250,"output_tokens":9}})"),
           tokens("null"), tokens(R"({"last_token_usage":{"input_tokens":1}})"),
           line("event_msg", R"({"type":"other","info":{"total_token_usage":{}}})"),
           tokens(R"({"total_token_usage":{"input_tokens":400,"output_tokens":-1,)"
                  R"("cached_input_tokens":30,"cache_write_input_tokens":4,)"
                  R"("reasoning_output_tokens":2.5}})"),
           say("user", "q", 1)});
  for (bool usage : {true, false}) {
    PackOptions options;
    options.include_usage = usage;
    std::vector<Session> sessions = read(options);
    ASSERT_EQ(sessions.size(), 1u);
    const SessionEfficiency& e = sessions[0].efficiency;
    EXPECT_EQ(e.turns, usage ? 3u : 0u);
    EXPECT_EQ(e.input, usage ? 400u : 0u);
    EXPECT_EQ(e.output, 0u);
    EXPECT_EQ(e.cache_read, usage ? 30u : 0u);
    EXPECT_EQ(e.cache_write, usage ? 4u : 0u);
    EXPECT_EQ(e.reasoning, 0u);
  }
}

TEST_F(CodexReaderTest, CompactedPromptsJoinOnceWithTheirRecordsTime) {
  auto compacted = [](std::vector<std::string> prompts, int second) {
    nlohmann::json history = nlohmann::json::array();
    for (const std::string& p : prompts) history.push_back(nlohmann::json::parse(item("user", p)));
    history.push_back(nlohmann::json::parse(item("assistant", "old reply")));
    history.push_back({{"type", "message"}, {"role", "user"}});  // no content
    return line("compacted", R"({"replacement_history":)" + history.dump() + "}", second);
  };
  std::string untimed = compacted({"lost"}, 9);
  untimed.replace(untimed.find(at(9)), at(9).size(), "yesterday");
  rollout("r.jsonl", {say("user", "kept", 1),
                      compacted({"kept", "older", "Another language model started to solve this problem"}, 5),
                      compacted({"older", "oldest"}, 6), untimed, say("user", "after", 7)});
  std::vector<Session> sessions = read();
  ASSERT_EQ(sessions.size(), 1u);
  EXPECT_EQ(texts(sessions[0]), (std::vector<std::string>{"kept", "older", "oldest", "after"}));
  EXPECT_EQ(sessions[0].messages[1].timestamp, kBase + 5);
  EXPECT_EQ(sessions[0].messages[2].timestamp, kBase + 6);
}

TEST_F(CodexReaderTest, UntimedMessagesDropWhileToolItemsCount) {
  std::string untimed = say("user", "no time", 0);
  untimed.replace(untimed.find(at(0)), at(0).size(), "soon");
  rollout("r.jsonl", {untimed,
                      R"({"type":"response_item","payload":{"type":"message","role":"user","content":[{"type":"input_text","text":"missing"}]}})",
                      R"({"type":"response_item","payload":{"type":"function_call","name":"shell","arguments":{"cmd":"git status"}}})",
                      R"({"type":"response_item","payload":{"type":"function_call_output","output":"abc"}})",
                      say("user", "timed", 1)});
  std::vector<Session> sessions = read();
  ASSERT_EQ(sessions.size(), 1u);
  EXPECT_EQ(texts(sessions[0]), std::vector<std::string>{"timed"});
  EXPECT_EQ(sessions[0].efficiency.tools.at("shell"), 1u);
  EXPECT_EQ(sessions[0].efficiency.commands.at("git status"), 1u);
  EXPECT_EQ(sessions[0].efficiency.tool_result_bytes, 5u);
}

TEST_F(CodexReaderTest, ToolCallsAreAccountedFromTheirInput) {
  auto call = [](std::string_view members) {
    return line("response_item", R"({"type":"function_call",)" + std::string(members) + "}");
  };
  rollout("r.jsonl",
          {call(R"("name":"exec_command","arguments":"{\"cmd\": \"git status\"}")"),
           call(R"("name":"exec_command","arguments":"{\"cmd\":\"git status\"}")"),
           call(R"("name":"exec_command","arguments":{"cmd":"npm test"},"input":null)"),
           call(R"("name":"exec_command","input":null)"),
           call(R"("name":"exec_command","arguments":"not json cmd")"),
           call(R"("arguments":"[{\"cmd\":\"ls\"}]")"),
           line("response_item", R"({"type":"custom_tool_call","name":"apply_patch","input":"*** Begin Patch"})"),
           line("response_item", R"({"type":"custom_tool_call_output","output":[{"type":"output_text","text":"Done!"}]})"),
           line("response_item", R"({"type":"function_call_output"})"),
           say("user", "q", 1)});
  std::vector<Session> sessions = read();
  ASSERT_EQ(sessions.size(), 1u);
  const SessionEfficiency& e = sessions[0].efficiency;
  EXPECT_EQ(e.tool_calls, 7u);
  EXPECT_EQ(e.tools, (std::map<std::string, uint64_t>{
                         {"exec_command", 5}, {"unknown", 1}, {"apply_patch", 1}}));
  // The two string spellings differ as text, so neither repeats; the two
  // null inputs share the fingerprint of the text null.
  EXPECT_EQ(e.repeated_calls, 1u);
  EXPECT_EQ(e.commands, (std::map<std::string, uint64_t>{{"git status", 2}}));
  EXPECT_EQ(e.tool_result_bytes,
            std::string(R"([{"text":"Done!","type":"output_text"}])").size());
}

TEST_F(CodexReaderTest, AssistantRepliesCanBeLeftOut) {
  rollout("r.jsonl", {say("assistant", "reply", 1, "x"), say("user", "q", 2, "x"),
                      line("event_msg", R"({"type":"token_count","info":{"total_token_usage":{}}})")});
  PackOptions options;
  options.include_assistant = false;
  std::vector<Session> sessions = read(options);
  ASSERT_EQ(sessions.size(), 1u);
  EXPECT_EQ(texts(sessions[0]), std::vector<std::string>{"q"});  // its id was not marked
  EXPECT_EQ(sessions[0].efficiency.turns, 1u);
}

TEST_F(CodexReaderTest, TitlesComeFromTheIndexUnlessStrict) {
  testing::write_file(home_ / "session_index.jsonl",
                      R"({"id":"t1","thread_name":"Named"})"
                      "\n"
                      R"({"id":"s2","thread_name":"key )" + kSecret + "\"}\n");
  rollout("a.jsonl", {meta(R"("id":"t1","session_id":"s1")"), say("user", "a", 1)});
  rollout("b.jsonl", {meta(R"("id":"t2","session_id":"s2")"), say("user", "b", 1)});
  rollout("c.jsonl", {meta(R"("id":"t3")"), say("user", "c", 1)});
  const struct {
    bool redact;
    std::optional<double> modified_before;
    std::vector<std::optional<std::string>> titles;
  } cases[] = {
      {true, std::nullopt, {"Named", "key [redacted-secret]", std::nullopt}},
      {false, std::nullopt, {"Named", "key " + kSecret, std::nullopt}},
      {true, 4.0e9, {std::nullopt, std::nullopt, std::nullopt}},
  };
  for (const auto& c : cases) {
    PackOptions options;
    options.redact = c.redact;
    options.modified_before = c.modified_before;
    std::vector<std::optional<std::string>> titles;
    for (const Session& s : read(options)) titles.push_back(s.title);
    EXPECT_EQ(titles, c.titles) << c.redact;
  }
}

}  // namespace
}  // namespace lorebox
