#include "claude/claude_file.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace lorebox {
namespace {

// A line of `type` at 2025-01-01T00:00:01Z with the given "message" members
// and further line members.
std::string line(const std::string& type, const std::string& message,
                 const std::string& extra = "") {
  return R"({"type":")" + type + R"(","timestamp":"2025-01-01T00:00:01Z","message":{)" +
         message + "}" + extra + "}";
}
std::string user(const std::string& content, const std::string& extra = "") {
  return line("user", R"("content":)" + content, extra);
}
std::string reply(const std::string& text, const std::string& message = "",
                  const std::string& extra = "") {
  return line("assistant",
              R"("content":[{"type":"text","text":")" + text + "\"}]" + message, extra);
}
// A queued-command attachment at second 5.
std::string queued(const std::string& prompt, const std::string& kind = "human",
                   const std::string& extra = "") {
  return R"({"type":"attachment","timestamp":"2025-01-01T00:00:05Z","attachment":{)"
         R"("type":"queued_command","prompt":")" +
         prompt + R"(","origin":{"kind":")" + kind + "\"}" + extra + "}}";
}
// A "queue-operation" line at `second`, with "content" when it is given.
std::string queue(const std::string& operation, int second,
                  const std::string& content = "") {
  return fmt::format(
      R"({{"type":"queue-operation","operation":"{}","timestamp":"2025-01-01T00:00:{:02}Z")"
      R"({}}})",
      operation, second, content.empty() ? "" : R"(,"content":)" + content);
}
std::string usage(uint64_t input, uint64_t output) {
  return fmt::format(R"("usage":{{"input_tokens":{},"output_tokens":{}}})", input,
                     output);
}

ClaudeFile read_lines(const std::vector<std::string>& lines, const PackOptions& options) {
  ClaudeFile file;
  ClaudeLineReader reader(options);
  for (const std::string& text : lines) {
    std::string padded = text + std::string(simdjson::SIMDJSON_PADDING, ' ');
    reader.read_line(std::string_view(padded.data(), text.size()), &file);
  }
  append_queued_prompts(&file);
  take_delivered_prompts(options, &file);
  for (Message& m : file.delivered) file.messages.push_back(std::move(m));
  return file;
}

struct Case {
  const char* name;
  std::vector<std::string> lines;
  // Messages as "U@second:text" or "A@second:text|model"; or, for accounting
  // cases, the counters and tool and command tables.
  std::vector<std::string> expected;
  PackOptions options = {};
};

TEST(ClaudeLineReaderTest, KeepsWhatWasTypedAndAnswered) {
  const std::string key = "sk-" + std::string(30, 'A');
  const std::vector<Case> cases = {
      {"prompt sources",
       {user(R"("typed")", R"(,"promptSource":"typed")"),
        user(R"("queued")", R"(,"promptSource":"queued")"), user(R"("plain")"),
        user(R"("sdk")", R"(,"promptSource":"sdk")"),
        user(R"([{"type":"text","text":"array"}])", R"(,"promptSource":"sdk")")},
       {"U@1:typed", "U@1:queued", "U@1:plain", "U@1:array"}},
      {"text blocks",
       {user(R"([{"type":"text","text":"one"},{"type":"image"},)"
             R"({"type":"text","text":"two"},{"type":"text","text":3}])"),
        user(R"([{"type":"tool_result","content":"out"}])")},
       {"U@1:one\ntwo"}},
      {"command prompts",
       {user(R"("<command-name>/model</command-name><command-args>opus</command-args>")"),
        user(
            R"("<command-message>m</command-message><command-name>/clear</command-name>")"),
        user(R"("<command-message>m</command-message><command-name></command-name>")")},
       {"U@1:/model opus", "U@1:/clear"}},
      {"internal and broken lines",
       {user(R"("<system-reminder>x</system-reminder>")"),
        user(R"("[Request interrupted by user]")"),
        user(R"("meta")", R"(,"isMeta":true)"),
        user(R"("side")", R"(,"isSidechain":true)"), user("42"),
        R"({"type":"user","timestamp":"yesterday","message":{"content":"bad time"}})",
        R"({"timestamp":"2025-01-01T00:00:01Z","message":{"content":"no type"}})",
        "not json", "[1]", user(R"("kept")")},
       {"U@1:kept"}},
      {"side chains with subagents",
       {user(R"("side")", R"(,"isSidechain":true)")},
       {"U@1:side"},
       {.include_subagents = true}},
      {"warm-up chains",
       {user(R"("Warmup")", R"(,"isSidechain":true,"uuid":"w1")"),
        reply("ready", "", R"(,"isSidechain":true,"uuid":"w2","parentUuid":"w1")"),
        user(R"("more")", R"(,"isSidechain":true,"uuid":"w3","parentUuid":"w2")"),
        user(R"([{"type":"text","text":"Warmup"}])", R"(,"isSidechain":true)"),
        user(R"("Warmup ")", R"(,"isSidechain":true,"uuid":"x1")"),
        reply("child of a kept line", "", R"(,"isSidechain":true,"parentUuid":"x1")"),
        user(R"("Warmup")", R"(,"uuid":"main")"),
        reply("main child", "", R"(,"parentUuid":"main")")},
       {"U@1:Warmup", "A@1:child of a kept line|-", "U@1:Warmup", "A@1:main child|-"},
       {.include_subagents = true}},
      {"replies and models",
       {reply("a1", R"(,"model":"claude-x")", R"(,"slug":"s")"),
        reply("a2", "", R"(,"slug":"my-slug")"),
        reply("a3", R"(,"model":"<synthetic>")", R"(,"slug":"s")"),
        reply("err", "", R"(,"isApiErrorMessage":true)"), reply("API Error: 500"),
        line("assistant", R"("content":"plain string")")},
       {"A@1:a1|claude-x", "A@1:a2|my-slug", "A@1:a3|-"}},
      {"no assistant",
       {user(R"("q")"), reply("a")},
       {"U@1:q"},
       {.include_assistant = false}},
      {"queued prompts",
       {user(R"("same")"), queued("same"), queued("later"), queued("later"),
        queued("bot", "agent"),
        queued("own", "human", R"(,"timestamp":"2025-01-01T00:00:09Z")"),
        queued("bad time", "human", R"(,"timestamp":"soon")"),
        queued("<system-reminder>x")},
       {"U@1:same", "U@5:later", "U@5:later", "U@9:own"}},
      {"prompts delivered through the queue",
       {// Sent as the next turn: the user line carries it.
        queue("enqueue", 2, R"("next turn")"), queue("dequeue", 3),
        user(R"("next turn")"),
        // Handed to the model inside the turn, and nowhere else.
        queue("enqueue", 4, R"("mid turn")"), queue("remove", 5),
        // Pulled back into the input box.
        queue("enqueue", 6, R"("edited")"), queue("popAll", 7, R"("edited")"),
        // Two dequeued prompts arrive joined in one user line.
        queue("enqueue", 9, R"("a")"), queue("enqueue", 9, R"("b")"),
        queue("dequeue", 10), queue("dequeue", 10), user(R"("a\nb")"),
        // A prompt handed to the turn as an attachment (written before its
        // "remove"), and one that only a line before it holds.
        queue("enqueue", 11, R"("attached")"), queued("attached"), queue("remove", 12),
        user(R"("again")"), queue("enqueue", 13, R"("again")"), queue("remove", 14),
        // A notification ahead of the prompt stays queued on "remove".
        queue("enqueue", 15, R"("<task-notification>done</task-notification>")"),
        queue("enqueue", 16, R"("behind it")"), queue("remove", 17),
        queue("popAll", 18, R"("<task-notification>done</task-notification>")"),
        // Markup, an orphan operation, a bad enqueue time, an image prompt.
        queue("enqueue", 19, R"("<bash-notification><status>ok</status>")"),
        queue("dequeue", 19), queue("dequeue", 20), queue("remove", 20),
        R"({"type":"queue-operation","operation":"enqueue","timestamp":"soon","content":"t"})",
        queue("remove", 21), queue("enqueue", 22), queue("dequeue", 22),
        // Still queued when the file ends.
        queue("enqueue", 23, R"("never sent")")},
       {"U@1:next turn", "U@1:a\nb", "U@1:again", "U@5:attached", "U@4:mid turn",
        "U@13:again", "U@16:behind it"}},
      {"queue carriers that are not packed",
       {queue("enqueue", 2, R"("print mode")"), queue("dequeue", 2),
        user(R"("print mode")", R"(,"promptSource":"sdk")"),
        queue("enqueue", 3, R"("/model opus")"), queue("dequeue", 3),
        user(R"("<command-name>/model</command-name><command-args>opus</command-args>")"),
        queue("enqueue", 4, R"("bot")"), queue("remove", 4), queued("bot", "agent")},
       {"U@1:/model opus"}},
      {"redaction", {user("\"key " + key + "\"")}, {"U@1:key [redacted-secret]"}},
      {"queued redaction and truncation",
       {queue("enqueue", 2, "\"key " + key + "\""), queue("remove", 3),
        queue("enqueue", 4, R"("  hello world ")"), queue("remove", 5)},
       {"U@2:key [… [truncated]", "U@4:hello… [truncated]"},
       {.max_message_chars = 5}},
      {"no redaction",
       {user("\"key " + key + "\"")},
       {"U@1:key " + key},
       {.redact = false}},
      {"truncation",
       {user(R"("  hello world ")")},
       {"U@1:hello… [truncated]"},
       {.max_message_chars = 5}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> got;
    for (const Message& m : read_lines(c.lines, c.options).messages) {
      got.push_back(fmt::format("{}@{}:{}", m.role == Role::User ? "U" : "A",
                                m.timestamp - 1735689600.0, m.text) +
                    (m.role == Role::User ? "" : "|" + m.model.value_or("-")));
    }
    EXPECT_EQ(got, c.expected) << c.name;
  }
}

TEST(PromptQueueTest, CarriersHoldTheWholeTextOrWholeLines) {
  const struct {
    const char* carrier;
    const char* text;
    bool carries;
  } cases[] = {
      {"fix it", "fix it", true},         {"  fix it\n", "fix it ", true},
      {"first\nfix it", "fix it", true},  {"fix it\r\nthen test", "fix it", true},
      {"a\nfix it\nb", "fix it", true},   {"fix it\nplease", "fix it\nplease", true},
      {"fix it please", "fix it", false}, {"prefix it", "fix it", false},
      {"fix", "fix it", false},           {"anything", "  ", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(carries_text(c.carrier, c.text), c.carries) << c.carrier << " / " << c.text;
  }
}

TEST(ClaudeLineReaderTest, AccountsEveryMessageLine) {
  const std::string bash =
      R"(,"content":[{"type":"tool_use","name":"Bash","input":{"command":"git status"}}])";
  const std::string id = R"("id":"msg_1",)";
  const std::vector<Case> cases = {
      {"tool results",
       {user(R"([{"type":"tool_result","content":"ok","is_error":true},)"
             R"({"type":"tool_result","content":[{"type":"text","text":"x"}]},)"
             R"({"type":"tool_result","is_error":"true"}])")},
       {"turns 0 in 0 out 0 calls 0 failed 1 bytes 32"}},  // "ok" and the array
      {"api error and bare lines",
       {reply("API Error", "," + usage(10, 5), R"(,"isApiErrorMessage":true)"),
        line("assistant", ""),
        line("assistant", R"("usage":{"input_tokens":-1,"output_tokens":1.5})")},
       {"turns 3 in 10 out 5 calls 0 failed 0 bytes 0"}},
      {"one response in three lines",
       {line("assistant", id + usage(3, 8), R"(,"requestId":"r")"),
        line("assistant", id + usage(3, 8) + bash, R"(,"requestId":"r")"),
        line("assistant", id + usage(3, 108) + bash, R"(,"requestId":"r")")},
       {"turns 1 in 3 out 108 calls 2 failed 0 bytes 0", "Bash=2", "git status=2"}},
      {"equal weights keep the first line",
       {line("assistant", id + usage(10, 0)), line("assistant", id + usage(0, 10))},
       {"turns 1 in 10 out 0 calls 0 failed 0 bytes 0"}},
      {"request ids tell responses apart",
       {line("assistant", id + usage(1, 1), R"(,"requestId":"r1")"),
        line("assistant", id + usage(1, 1), R"(,"requestId":"r2")"),
        line("assistant", id + usage(1, 1), R"(,"requestId":7)"),
        line("assistant", id + usage(1, 1))},
       {"turns 3 in 3 out 3 calls 0 failed 0 bytes 0"}},
      {"unnamed tool",
       {line("assistant", R"("content":[{"type":"tool_use","input":{"command":"ls"}}])")},
       {"turns 1 in 0 out 0 calls 1 failed 0 bytes 0", "unknown=1"}},
      {"no assistant still accounts",
       {line("assistant", usage(2, 3) + bash)},
       {"turns 1 in 2 out 3 calls 1 failed 0 bytes 0", "Bash=1", "git status=1"},
       {.include_assistant = false}},
      {"side chains are not accounted",
       {line("assistant", usage(2, 3), R"(,"isSidechain":true)")},
       {"turns 0 in 0 out 0 calls 0 failed 0 bytes 0"}},
      {"no usage",
       {line("assistant", usage(2, 3) + bash)},
       {"turns 0 in 0 out 0 calls 0 failed 0 bytes 0"},
       {.include_usage = false}},
      {"a replayed line counts its tools once",
       {line("assistant", id + usage(3, 8) + bash, R"(,"uuid":"u1")"),
        line("assistant", id + usage(3, 8) + bash, R"(,"uuid":"u1")"),
        user(R"([{"type":"tool_result","content":"ok","is_error":true}])",
             R"(,"uuid":"u2")"),
        user(R"([{"type":"tool_result","content":"ok","is_error":true}])",
             R"(,"uuid":"u2")"),
        line("assistant", usage(1, 1) + bash, R"(,"uuid":"u3")")},
       {"turns 2 in 4 out 9 calls 2 failed 1 bytes 4", "Bash=2", "git status=2"}},
      {"a fork copy is known by the line it names",
       {line("assistant", usage(1, 1) + bash, R"(,"uuid":"u1")"),
        line("assistant", usage(1, 1) + bash,
             R"(,"uuid":"u9","forkedFrom":{"sessionId":"s","messageUuid":"u1"})")},
       {"turns 2 in 2 out 2 calls 1 failed 0 bytes 0", "Bash=1", "git status=1"}},
  };
  for (const Case& c : cases) {
    const SessionEfficiency r = read_lines(c.lines, c.options).accounting;
    std::vector<std::string> got = {
        fmt::format("turns {} in {} out {} calls {} failed {} bytes {}", r.turns, r.input,
                    r.output, r.tool_calls, r.failed_calls, r.tool_result_bytes)};
    for (const auto* table : {&r.tools, &r.commands}) {
      for (const auto& [name, count] : *table)
        got.push_back(fmt::format("{}={}", name, count));
    }
    EXPECT_EQ(got, c.expected) << c.name;
  }
}

TEST(ClaudeLineReaderTest, TakesFirstIdsAndLastTitle) {
  const ClaudeFile file =
      read_lines({R"({"type":"progress","sessionId":"s1","cwd":"/a"})",
                  R"({"type":"ai-title","aiTitle":"first","sessionId":"s2","cwd":"/b"})",
                  R"({"type":"ai-title","aiTitle":"second","sessionId":"s2"})",
                  R"({"type":"ai-title","aiTitle":7,"sessionId":"s3"})"},
                 {});
  EXPECT_EQ(file.native_id, "s1");
  EXPECT_EQ(file.other_ids, (std::vector<std::string>{"s2", "s3"}));
  EXPECT_EQ(file.working_directory, "/a");
  EXPECT_EQ(file.title, "second");
}

TEST(ClaudeLineReaderTest, LinesKeepTheirIdentityAndCopyMark) {
  const ClaudeFile file = read_lines(
      {user(R"("typed")", R"(,"uuid":"u1")"),
       user(R"("copied")", R"(,"uuid":"u2","sessionKind":"bg")"),
       user(R"("forked")",
            R"(,"uuid":"u3","forkedFrom":{"sessionId":"s","messageUuid":"u1"})"),
       user(R"("odd fork")", R"(,"uuid":"u4","forkedFrom":{"messageUuid":7})"),
       user(R"("no uuid")"), queued("waiting"),
       R"({"type":"attachment","uuid":"q1","timestamp":"2025-01-01T00:00:05Z",)"
       R"("attachment":{"type":"queued_command","prompt":"queued with uuid",)"
       R"("origin":{"kind":"human"}}})"},
      {});
  struct Expected {
    const char* text;
    const char* identity;  // nullptr: none
  } expected[] = {{"typed", "u1"},           {"copied", "u2"},     {"forked", "u1"},
                  {"odd fork", "u4"},        {"no uuid", nullptr}, {"waiting", nullptr},
                  {"queued with uuid", "q1"}};
  ASSERT_EQ(file.messages.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    const Message& m = file.messages[i];
    EXPECT_EQ(m.text, expected[i].text);
    EXPECT_EQ(m.has_identity, expected[i].identity != nullptr) << m.text;
    if (expected[i].identity) {
      EXPECT_EQ(m.identity, line_identity(expected[i].identity)) << m.text;
    }
  }
  std::vector<bool> marks;
  for (const FileLine& line : file.lines) marks.push_back(line.marked);
  // The four user lines with a uuid and the queued prompt with one; a
  // "forkedFrom" object marks a copy even when it names no string.
  EXPECT_EQ(marks, (std::vector<bool>{false, true, true, true, false}));
}

}  // namespace
}  // namespace lorebox
