#include "codex/codex_reader.h"

#include <gtest/gtest.h>
#include <zstd.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "codex/session_index.h"
#include "parallel/worker_pool.h"
#include "support/scan_text.h"
#include "support/temp_dir.h"
#include "time/timestamp.h"

namespace lorebox {
namespace {

using Texts = std::vector<std::string>;
const std::string kSummary = "Another language model started to solve this problem";
const double kBase = *parse_timestamp("2025-05-01T10:00:00Z");

std::string at(int second) {  // kBase + second
  return "2025-05-01T10:00:" + std::string(second < 10 ? "0" : "") +
         std::to_string(second) + "Z";
}

std::string line(std::string_view type, std::string_view payload, int second = 0) {
  return R"({"timestamp":")" + at(second) + R"(","type":")" + std::string(type) +
         R"(","payload":)" + std::string(payload) + "}";
}

// A message payload; an empty id leaves the member out.
std::string item(std::string_view role, std::string_view text, std::string_view id = "") {
  nlohmann::json part = {{"type", role == "user" ? "input_text" : "output_text"},
                         {"text", text}};
  nlohmann::json payload = {{"type", "message"}, {"role", role}, {"content", {part}}};
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

// The same line with its timestamp replaced.
std::string retimed(std::string text, int second, std::string_view stamp) {
  return text.replace(text.find(at(second)), at(second).size(), stamp);
}

class CodexReaderTest : public ::testing::Test {
 protected:
  void rollout(const std::string& name, const std::vector<std::string>& lines,
               const std::string& root = "sessions/2025/05/01") {
    std::string text;
    for (const std::string& l : lines) text += l + "\n";
    testing::write_file(home_ / (root + "/" + name), text);
  }

  // The sessions by id (several for one id in reading order), checking that
  // each is paired with its file's stamp.
  // Reading side by side on 2 and 7 workers must give the very same result
  // as reading one file after another.
  std::multimap<std::string, Session> read(const PackOptions& options = {}) {
    const TitleTable titles = read_session_index(home_.path());
    Result<SourceScan> scan =
        read_codex_sessions(home_.path(), options, titles, ReadingContext{});
    EXPECT_TRUE(scan.has_value()) << scan.error();
    std::multimap<std::string, Session> sessions;
    if (!scan) return sessions;
    for (size_t workers : {2, 7}) {
      WorkerPool pool(workers);
      ReadingContext context;
      context.pool = &pool;
      Result<SourceScan> parallel =
          read_codex_sessions(home_.path(), options, titles, context);
      EXPECT_TRUE(parallel.has_value()) << workers;
      if (!parallel) continue;
      EXPECT_EQ(testing::scan_text(*parallel), testing::scan_text(*scan)) << workers;
    }
    EXPECT_EQ(scan->skipped_files, 0u);
    EXPECT_EQ(scan->sources.size(), scan->sessions.size());
    for (size_t i = 0; i < scan->sessions.size(); ++i) {
      EXPECT_EQ(scan->sources[i].session_id, scan->sessions[i].id);
      sessions.emplace(scan->sessions[i].id, std::move(scan->sessions[i]));
    }
    return sessions;
  }

  // The messages of every session by id: "text", or "model|text" for a
  // reply with a model.
  std::multimap<std::string, Texts> read_texts(const PackOptions& options = {}) {
    std::multimap<std::string, Texts> out;
    for (const auto& [id, session] : read(options)) {
      Texts texts;
      for (const Message& m : session.messages)
        texts.push_back(m.model ? *m.model + "|" + m.text : m.text);
      out.emplace(id, texts);
    }
    return out;
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
  for (size_t i = 0; i < std::size(cases); ++i) {
    // Only the first session_meta counts.
    rollout(std::to_string(i),
            {meta(R"("id":")" + std::to_string(i) + "\"," + cases[i].first_meta),
             meta(R"("id":"x","thread_source":"subagent")"), say("user", "hi", 1)});
  }
  for (bool include : {false, true}) {
    PackOptions options;
    options.include_subagents = include;
    std::multimap<std::string, Session> sessions = read(options);
    for (size_t i = 0; i < std::size(cases); ++i)
      EXPECT_EQ(sessions.count("codex-" + std::to_string(i)),
                include || !cases[i].background ? 1u : 0u)
          << cases[i].first_meta << " include=" << include;
  }
}

TEST_F(CodexReaderTest, IdsComeFromThreadIdMetaSessionIdOrFileName) {
  rollout("a.jsonl", {meta(R"("id":"thread","session_id":"meta","cwd":"/p")"),
                      meta(R"("id":"later","cwd":"/later")"), say("user", "a", 1)});
  rollout("b.jsonl", {meta(R"("id":7,"session_id":"meta-b")"), say("user", "b", 1)});
  rollout("rollout-c.jsonl", {say("user", "c", 1)});
  rollout("notes", {say("user", "d", 1)});
  rollout("empty.jsonl", {meta(R"("id":"nothing-kept")"), say("user", " ", 1)});
  rollout(".jsonl", {say("user", "e", 1)});
  rollout("caf\xc3\xa9.x.jsonl", {say("user", "f", 1)});
  rollout("bad\xff.jsonl", {say("user", "g", 1)});
  const std::string plain = say("user", "packed", 1) + "\n";
  std::string packed(ZSTD_compressBound(plain.size()), '\0');
  packed.resize(
      ZSTD_compress(packed.data(), packed.size(), plain.data(), plain.size(), 3));
  testing::write_file(home_ / "archived_sessions/rollout-z.jsonl.zst", packed);

  std::multimap<std::string, Texts> expected = {
      {"codex-thread", {"a"}},         {"codex-meta-b", {"b"}},
      {"codex-rollout-c", {"c"}},      {"codex-notes", {"d"}},
      {"codex-rollout-z", {"packed"}}, {"codex-.jsonl", {"e"}},
      {"codex-caf\xc3\xa9.x", {"f"}},  {"codex-", {"g"}}};
  EXPECT_EQ(read_texts(), expected);
  std::multimap<std::string, Session> sessions = read();
  EXPECT_EQ(sessions.find("codex-thread")->second.project, "/p");
  EXPECT_EQ(sessions.find("codex-notes")->second.project, std::nullopt);
}

TEST_F(CodexReaderTest, ItemIdsAreDeduplicatedPerFileAndFilesNeverMerged) {
  const std::vector<std::string> lines = {
      meta(R"("id":"t")"),
      say("user", "<environment_context>x</environment_context>", 1, "u1"),
      say("user", "hidden by the dropped item", 2, "u1"),
      say("user", "typed", 3, "u2"),
      say("user", "typed again", 4, "u2"),
      say("assistant", "reply", 5, "a"),
      say("assistant", "reply", 6, "a"),
      say("user", "no id", 7),
      say("user", "no id", 8),
  };
  rollout("one.jsonl", lines);
  rollout("two.jsonl", lines, "archived_sessions");
  const Texts texts = {"typed", "reply", "no id", "no id"};
  EXPECT_EQ(read_texts(),
            (std::multimap<std::string, Texts>{{"codex-t", texts}, {"codex-t", texts}}));
  // Without replies, a reply's id is never marked seen.
  PackOptions options;
  options.include_assistant = false;
  rollout("two.jsonl",
          {meta(R"("id":"r")"), say("assistant", "x", 1, "a"), say("user", "q", 2, "a")},
          "archived_sessions");
  EXPECT_EQ(read_texts(options).find("codex-r")->second, Texts{"q"});
}

TEST_F(CodexReaderTest, UserTextsAreJoinedCleanedAndInternalOnesDropped) {
  const struct {
    std::string content;
    Texts kept;
  } cases[] = {
      {R"([{"type":"input_text","text":"a"},{"type":"input_image"},)"
       R"({"type":"text","text":"b"}])",
       {"a\nb"}},
      {R"([{"type":"summary_text","text":"s"},"x",{"type":"output_text","text":3}])",
       {"s"}},
      {R"([{"type":"input_text","text":" <image name=x>i</image> look "}])", {"look"}},
      {R"([{"type":"input_image","image_url":"x"}])", {}},
      {R"("a plain string")", {}},
      {R"([{"type":"input_text","text":"<environment_context>c</environment_context>"}])",
       {}},
      {R"([{"type":"input_text","text":"# AGENTS.md instructions"}])", {}},
      {R"([{"type":"input_text","text":")" + kSummary + "\"}]", {}},
  };
  std::multimap<std::string, Texts> expected;
  for (size_t i = 0; i < std::size(cases); ++i) {
    std::string user =
        R"({"type":"message","role":"user","content":)" + cases[i].content + "}";
    rollout(std::to_string(i), {line("response_item", user, 1),
                                say("developer", "dev", 2), say("assistant", "ok", 3)});
    expected.emplace("codex-" + std::to_string(i), cases[i].kept)->second.push_back("ok");
  }
  EXPECT_EQ(read_texts(), expected);
}

TEST_F(CodexReaderTest, RepliesCarryTheNearestEarlierModel) {
  rollout("r", {say("assistant", "before", 1), line("turn_context", R"({"model":"m1"})"),
                say("user", "q", 2), say("assistant", "first", 3),
                line("turn_context", R"({"model":null})"), say("assistant", "second", 4),
                line("turn_context", R"({"model":"m2"})"), say("assistant", "third", 5)});
  EXPECT_EQ(read_texts().begin()->second,
            (Texts{"before", "q", "m1|first", "m1|second", "m2|third"}));
  EXPECT_EQ(read().begin()->second.created_at, kBase + 1);
}

TEST_F(CodexReaderTest, TokenEventsReplaceTheTotals) {
  auto tokens = [](std::string_view info) {
    return line("event_msg",
                R"({"type":"token_count","info":)" + std::string(info) + "}");
  };
  rollout("r", {tokens(R"({"total_token_usage":{"input_tokens":100}})"),
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
    const SessionEfficiency e = read(options).begin()->second.efficiency;
    EXPECT_EQ(std::vector<uint64_t>(
                  {e.turns, e.input, e.output, e.cache_read, e.cache_write, e.reasoning}),
              usage ? std::vector<uint64_t>({3, 400, 0, 30, 4, 0})
                    : std::vector<uint64_t>(6, 0));
  }
}

TEST_F(CodexReaderTest, CompactedPromptsJoinOnceWithTheirRecordsTime) {
  auto compacted = [](const Texts& prompts, int second) {
    nlohmann::json history = nlohmann::json::array();
    for (const std::string& p : prompts)
      history.push_back(nlohmann::json::parse(item("user", p)));
    history.push_back(nlohmann::json::parse(item("assistant", "old reply")));
    history.push_back({{"type", "message"}, {"role", "user"}});  // no content
    return line("compacted", R"({"replacement_history":)" + history.dump() + "}", second);
  };
  rollout("r",
          {say("user", "kept", 1), compacted({"kept", "older", kSummary}, 5),
           compacted({"older", "oldest"}, 6),
           retimed(compacted({"lost"}, 9), 9, "yesterday"), say("user", "after", 7)});
  const std::multimap<std::string, Session> sessions = read();
  const Session& session = sessions.begin()->second;
  std::vector<std::pair<std::string, double>> messages;
  for (const Message& m : session.messages) messages.emplace_back(m.text, m.timestamp);
  EXPECT_EQ(messages,
            (std::vector<std::pair<std::string, double>>{{"kept", kBase + 1},
                                                         {"older", kBase + 5},
                                                         {"oldest", kBase + 6},
                                                         {"after", kBase + 7}}));
}

TEST_F(CodexReaderTest, ToolCallsAreAccountedWhetherTimedOrNot) {
  auto call = [](std::string_view members) {
    return R"({"type":"response_item","payload":{"type":"function_call",)" +
           std::string(members) + "}}";
  };
  rollout("r",
          {call(R"("name":"exec_command","arguments":"{\"cmd\": \"git status\"}")"),
           call(R"("name":"exec_command","arguments":"{\"cmd\":\"git status\"}")"),
           call(R"("name":"exec_command","arguments":{"cmd":"x"},"input":null)"),
           call(R"("name":"exec_command","input":null)"),
           call(R"("name":"exec_command","arguments":"not json cmd")"),
           call(R"("arguments":"[{\"cmd\":\"ls\"}]")"),
           // An argv array, as an object or inside a string, after "cmd".
           call(R"("name":"shell","arguments":"{\"command\":[\"zsh\",\"-lc\",\"ls\"]}")"),
           call(R"("name":"shell","arguments":{"command":["git","diff"],"cmd":"pwd"})"),
           line("response_item",
                R"({"type":"custom_tool_call","name":"patch","input":"*** Begin"})"),
           line("response_item", R"({"type":"custom_tool_call_output","output":)"
                                 R"([{"type":"output_text","text":"Done!"}]})"),
           line("response_item", R"({"type":"function_call_output"})"),
           retimed(say("user", "untimed", 0), 0, "soon"),
           R"({"type":"response_item","payload":)" + item("user", "no time") + "}",
           say("user", "q", 1)});
  const std::multimap<std::string, Session> sessions = read();
  const Session& session = sessions.begin()->second;
  EXPECT_EQ(session.messages.size(), 1u);
  const SessionEfficiency& e = session.efficiency;
  EXPECT_EQ(e.tools,
            (std::map<std::string, uint64_t>{
                {"exec_command", 5}, {"unknown", 1}, {"patch", 1}, {"shell", 2}}));
  // The two string spellings differ as text, so neither repeats; the two
  // null inputs share the fingerprint of the text null.
  EXPECT_EQ(e.repeated_calls, 1u);
  EXPECT_EQ(e.commands, (std::map<std::string, uint64_t>{
                            {"git status", 2}, {"ls", 1}, {"git diff", 1}, {"pwd", 1}}));
  EXPECT_EQ(e.tool_result_bytes,
            std::string_view(R"([{"text":"Done!","type":"output_text"}])").size());
}

TEST_F(CodexReaderTest, TitlesComeFromTheIndexUnlessStrict) {
  const std::string secret = "ghp_" + std::string(36, 'A');
  testing::write_file(home_ / "session_index.jsonl",
                      R"({"id":"t1","thread_name":"Named"})"
                      "\n"
                      R"({"id":"s2","thread_name":"key )" +
                          secret + "\"}\n");
  rollout("a", {meta(R"("id":"t1","session_id":"s1")"), say("user", "a", 1)});
  rollout("b", {meta(R"("id":"t2","session_id":"s2")"), say("user", "b", 1)});
  rollout("c", {meta(R"("id":"t3")"), say("user", "c", 1)});
  const struct {
    bool redact;
    std::optional<double> modified_before;
    std::vector<std::optional<std::string>> titles;
  } cases[] = {
      {true, std::nullopt, {"Named", "key [redacted-secret]", std::nullopt}},
      {false, std::nullopt, {"Named", "key " + secret, std::nullopt}},
      {true, 4.0e9, {std::nullopt, std::nullopt, std::nullopt}},
  };
  for (const auto& c : cases) {
    PackOptions options;
    options.redact = c.redact;
    options.modified_before = c.modified_before;
    std::vector<std::optional<std::string>> titles;
    for (const auto& [id, session] : read(options)) titles.push_back(session.title);
    EXPECT_EQ(titles, c.titles) << c.redact;
  }
}

// The first line of a rollout written before records had an envelope.
std::string bare_header(std::string_view extra = "", int second = 3) {
  return R"({"id":"h","timestamp":")" + at(second) + R"(","instructions":null,"git":{})" +
         std::string(extra) + "}";
}

TEST_F(CodexReaderTest, BareHeaderIsToldFromANormalFirstLine) {
  const std::vector<std::string> body = {
      R"({"record_type":"state"})",
      item("user",
           "<environment_context>\n  <cwd> /work/app </cwd>\n</environment_context>"),
      item("user", "fix the bug"),
      R"({"record_type":"state","type":"message","role":"user",)"
      R"("content":[{"type":"input_text","text":"a state line"}]})",
      R"({"type":"function_call","name":"shell","arguments":"{\"cmd\":\"ls\"}"})",
      R"({"type":"function_call_output","output":"ok"})",
      line("session_meta", R"({"id":"enveloped","cwd":"/elsewhere"})"),
      say("user", "an enveloped record", 5),
      item("assistant", "done"),
  };
  const struct {
    std::vector<std::string> head;
    bool bare;
  } cases[] = {
      {{bare_header()}, true},
      {{"not json", "[1]", bare_header()}, true},  // the first object counts
      {{bare_header(R"(,"type":"x")")}, false},
      {{bare_header(R"(,"payload":{})")}, false},
      {{R"({"id":7,"timestamp":")" + at(3) + R"("})"}, false},
      {{R"({"id":"h","timestamp":"yesterday"})"}, false},
      {{R"({"id":"h"})"}, false},
      {{meta(R"("id":"m")"), bare_header()}, false},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    std::vector<std::string> lines = cases[i].head;
    lines.insert(lines.end(), body.begin(), body.end());
    rollout("r.jsonl", lines);
    std::multimap<std::string, Session> sessions = read();
    if (!cases[i].bare) {
      // Read as records: only the enveloped message counts.
      ASSERT_EQ(sessions.size(), 1u) << i;
      EXPECT_EQ(sessions.begin()->second.messages.size(), 1u) << i;
      EXPECT_EQ(sessions.begin()->second.messages[0].text, "an enveloped record") << i;
      continue;
    }
    ASSERT_EQ(sessions.size(), 1u) << i;
    const Session& session = sessions.begin()->second;
    EXPECT_EQ(session.id, "codex-h");
    EXPECT_EQ(session.project, "/work/app");
    std::vector<std::pair<std::string, double>> messages;
    for (const Message& m : session.messages) messages.emplace_back(m.text, m.timestamp);
    EXPECT_EQ(messages, (std::vector<std::pair<std::string, double>>{
                            {"fix the bug", kBase + 3}, {"done", kBase + 3}}));
    EXPECT_EQ(session.efficiency.tools, (std::map<std::string, uint64_t>{{"shell", 1}}));
    EXPECT_EQ(session.efficiency.commands, (std::map<std::string, uint64_t>{{"ls", 1}}));
    EXPECT_EQ(session.efficiency.tool_result_bytes, 4u);
  }
}

TEST_F(CodexReaderTest, BareRolloutsTakeTheFirstEnvironmentBlocksDirectory) {
  auto environment = [](std::string_view inner) {
    return item("user",
                "<environment_context>" + std::string(inner) + "</environment_context>");
  };
  const struct {
    std::vector<std::string> items;
    std::optional<std::string> cwd;
  } cases[] = {
      {{environment("<cwd>/a</cwd>"), environment("<cwd>/b</cwd>")}, "/a"},
      {{item("user",
             " \n"
             "<environment_context><cwd>/a</cwd></environment_context>")},
       "/a"},
      {{environment("<shell>zsh</shell>"), environment("<cwd>/b</cwd>")}, std::nullopt},
      {{item("user", "see <environment_context><cwd>/a</cwd></environment_context>"),
        environment("<cwd>/b</cwd>")},
       "/b"},
      {{item("assistant", "<environment_context><cwd>/a</cwd></environment_context>")},
       std::nullopt},
      // The plain-text form of the oldest rollouts; <cwd> wins when both are
      // there, and a label after the block or with nothing after it is none.
      {{environment("\nCurrent working directory: /Users/u/app\nApproval policy: x\n")},
       "/Users/u/app"},
      {{environment("\n  Current working directory:  /a b \r\n<cwd>/c</cwd>")}, "/c"},
      {{environment("\nCurrent working directory:\n"), environment("<cwd>/b</cwd>")},
       std::nullopt},
      {{item("user",
             "<environment_context>\nShell: zsh\n</environment_context>\n"
             "Current working directory: /a")},
       std::nullopt},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    std::vector<std::string> lines = {bare_header()};
    lines.insert(lines.end(), cases[i].items.begin(), cases[i].items.end());
    lines.push_back(item("user", "typed"));
    rollout("r.jsonl", lines);
    std::multimap<std::string, Session> sessions = read();
    ASSERT_EQ(sessions.size(), 1u) << i;
    EXPECT_EQ(sessions.begin()->second.project, cases[i].cwd) << i;
  }
}

// A session document of the first Codex: {"session":…,"items":[…]}.
std::string document(std::string_view id, int second,
                     const std::vector<std::string>& items) {
  nlohmann::json list = nlohmann::json::array();
  for (const std::string& i : items) list.push_back(nlohmann::json::parse(i));
  return nlohmann::json(
             {{"session", {{"id", id}, {"timestamp", at(second)}, {"instructions", ""}}},
              {"items", list}})
      .dump(2);
}

TEST_F(CodexReaderTest, SessionDocumentsAreReadAndPrefixCopiesDropped) {
  const std::string q1 = item("user", "q1"), a1 = item("assistant", "a1", "msg_1");
  const std::string q2 = item("user", "q2"), a2 = item("assistant", "a2", "msg_2");
  auto put = [&](const std::string& name, const std::string& text) {
    testing::write_file(home_ / name, text);
  };
  put("sessions/rollout-2025-04-16-a.json", document("a", 1, {q1, a1}));
  put("sessions/rollout-2025-04-16-b.json",
      document("b", 2,
               {q1, a1, R"({"type":"function_call","name":"shell"})", q2, a2, a2}));
  put("sessions/c.json", document("c", 1, {q1, a1, q2, a2}));  // equal to b, earlier
  put("sessions/d.json", document("d", 4, {item("user", "same")}));
  put("sessions/e.json", document("e", 4, {item("user", "same")}));  // equal, greater id
  put("sessions/f.json", document("f", 1, {q1, item("assistant", "other")}));
  put("sessions/2025/04/16/deep.json", document("deep", 1, {item("user", "deeper")}));
  put("archived_sessions/old.json", document("old", 1, {item("user", "archived")}));
  put("sessions/not-a-session.json", R"({"session":{"id":"x"},"items":[]})");
  put("sessions/items.json",
      R"({"session":{"id":"x","timestamp":")" + at(1) + R"("},"items":{}})");
  rollout("r.jsonl", {say("user", "q1", 1)});  // rollouts are never compared
  testing::write_file(home_ / "session_index.jsonl", R"({"id":"b","thread_name":"Bee"})"
                                                     "\n");

  std::multimap<std::string, Session> sessions = read();
  std::multimap<std::string, Texts> texts;
  for (const auto& [id, session] : sessions) {
    Texts t;
    for (const Message& m : session.messages) t.push_back(m.text);
    texts.emplace(id, t);
  }
  EXPECT_EQ(texts,
            (std::multimap<std::string, Texts>{{"codex-b", {"q1", "a1", "q2", "a2"}},
                                               {"codex-e", {"same"}},
                                               {"codex-f", {"q1", "other"}},
                                               {"codex-r", {"q1"}}}));
  const Session& b = sessions.find("codex-b")->second;
  EXPECT_EQ(b.title, "Bee");
  EXPECT_EQ(b.project, std::nullopt);
  EXPECT_EQ(b.created_at, kBase + 2);
  EXPECT_EQ(b.efficiency.tools, (std::map<std::string, uint64_t>{{"shell", 1}}));

  // Without replies the lists compare as packed: f's is then a prefix of b's.
  PackOptions options;
  options.include_assistant = false;
  EXPECT_EQ(read(options).count("codex-f"), 0u);
}

// Rollouts written by real Codex builds (this project's captures, see
// tests/data/realdata/local-captures/README.md) and a third-party sample read
// in place from the shared data folder beside the source tree; the
// expectations were checked by hand against the files.
TEST_F(CodexReaderTest, RealRolloutsGivePromptsRepliesTitlesAndCommands) {
  const std::filesystem::path shared =
      std::filesystem::path(LOREBOX_SOURCE_DIR) / "../shared/realdata";
  if (!std::filesystem::is_directory(shared / "daaain__claude-code-log"))
    GTEST_SKIP() << "sample transcripts not found at " << shared;
  const std::filesystem::path captures =
      std::filesystem::path(LOREBOX_SOURCE_DIR) / "tests/data/realdata/local-captures";
  // The capture's history.jsonl and index are read as rollouts too, and
  // give none: their lines have no "payload".
  std::filesystem::create_directory(home_ / "sessions");
  std::filesystem::copy(captures / "codex-0.171.0", home_ / "sessions/a");
  std::filesystem::copy(shared / "daaain__claude-code-log", home_ / "sessions/b");
  std::filesystem::copy_file(captures / "codex-0.171.0/session_index.jsonl",
                             home_ / "session_index.jsonl");
  const std::string exec = "codex-01a25222-27fa-76a2-b29e-3f816c78d8d5";
  const std::string tui = "codex-01a25222-8b20-7990-bae9-add2c51f3649";
  const std::string synthetic = "codex-11111111-1111-4111-8111-111111111111";
  EXPECT_EQ(read_texts(),
            (std::multimap<std::string, Texts>{
                {exec,
                 {"please say hello via a command", "gpt-5.6|Running a command (1).",
                  "gpt-5.6|Mock codex answer 2 with [redacted-secret] inside."}},
                {tui,
                 {"hello codex from the tui", "gpt-5.6|Running a command (3).",
                  "gpt-5.6|Mock codex answer 5 with [redacted-secret] inside."}},
                {synthetic,
                 {"List the synthetic files.",
                  "synthetic-model|The synthetic files are alpha.txt and "
                  "beta.txt."}}}));

  // Title; tools; commands; turns, input, cached, output, reasoning, result bytes.
  std::map<std::string, std::string> found;
  for (const auto& [id, s] : read()) {
    const SessionEfficiency& e = s.efficiency;
    std::string text = s.title.value_or("-") + ";";
    for (const auto& [name, n] : e.tools) text += name + "=" + std::to_string(n) + " ";
    for (const auto& [name, n] : e.commands) text += ";" + name + "=" + std::to_string(n);
    for (uint64_t n :
         {e.turns, e.input, e.cache_read, e.output, e.reasoning, e.tool_result_bytes})
      text += ";" + std::to_string(n);
    found[id] = text;
  }
  EXPECT_EQ(found, (std::map<std::string, std::string>{
                       {exec, "-;exec_command=1 ;echo=1;2;3000;1800;100;20;122"},
                       {tui,
                        "My mock thread;exec_command=1 ;echo=1;2;8000;4800;100;20;"
                        "122"},
                       {synthetic,
                        "-;apply_patch=1 exec_command=1 "
                        "mcp__synthetic__lookup=1 ;find=1;0;0;0;0;0;85"}}));
}

}  // namespace
}  // namespace lorebox
