// Broken and extreme JSON in the logs: each line either parses or is
// ignored by the rules, the run succeeds, and the good lines are packed.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hostile_support.h"

namespace lorebox::testing {
namespace {

using ::testing::Test;

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer keeps freed blocks in quarantine, so the peak memory of
// a sanitized run says nothing about the program.
constexpr bool kMeasuresMemory = false;
#else
constexpr bool kMeasuresMemory = true;
#endif

bool holds(const std::vector<std::string>& texts, const std::string& text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// A user line whose member "x" nests `levels` arrays, so the line nests
// levels + 1 deep.
std::string nested_prompt(const std::string& text, size_t levels) {
  std::string line = claude_line(json_text(text));
  line.pop_back();  // the line feed
  line.pop_back();  // the closing brace
  return line + ",\"x\":" + std::string(levels, '[') + std::string(levels, ']') + "}\n";
}

class HostileJson : public Test {
 protected:
  HostileHome home_;
};

TEST_F(HostileJson, DeepLinesAreIgnoredAndTheRestIsPacked) {
  const std::string deep_array = std::string(50000, '[') + std::string(50000, ']') + "\n";
  const std::string unclosed = std::string(50000, '{') + "\n";
  home_.write_claude(
      "p", "deep",
      claude_line(json_text("before deep")) + deep_array + unclosed +
          nested_prompt("at the limit", 127) + nested_prompt("one level too deep", 128) +
          nested_prompt("far too deep", 50000) + claude_line(json_text("after deep")));
  home_.write_codex("rollout-2026-01-02T03-04-05-deep",
                    codex_rollout({json_text("codex before")}) + deep_array +
                        codex_rollout({json_text("codex after")}));
  write_file(home_.claude() / "history.jsonl",
             deep_array + R"({"display":"from history","timestamp":1767322000000,)"
                          R"("sessionId":"pruned"})"
                          "\n");

  const HostileRun run = home_.export_all();
  ASSERT_FALSE(run.timed_out) << "lorebox did not finish";
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> texts = packed_texts(home_.archive());
  for (const char* kept : {"before deep", "at the limit", "after deep", "codex before",
                           "codex after", "from history"})
    EXPECT_TRUE(holds(texts, kept)) << kept;
  for (const char* dropped : {"one level too deep", "far too deep"})
    EXPECT_FALSE(holds(texts, dropped)) << dropped;
  EXPECT_EQ(texts.size(), 6u);
  EXPECT_NE(run.out.find("(6 prompts, "), std::string::npos) << run.out;
}

TEST_F(HostileJson, HugeLineIsAccountedWithoutHoldingItManyTimes) {
  constexpr size_t kHuge = 200u * 1024 * 1024;
  std::string transcript = claude_line(json_text("small before"));
  transcript.reserve(kHuge + 1024);
  transcript += R"({"type":"user","sessionId":"s1","timestamp":"2026-01-02T03:04:06Z",)"
                R"("message":{"content":[{"type":"tool_result","content":")";
  transcript.append(kHuge, 'x');
  transcript += "\"}]}}\n";
  transcript += claude_line(json_text("small after"), "2026-01-02T03:04:07Z");
  // One reply, so that the session has accounting to report.
  transcript +=
      R"({"type":"assistant","sessionId":"s1","timestamp":"2026-01-02T03:04:08Z",)"
      R"("message":{"content":[{"type":"text","text":"reply"}]}})"
      "\n";
  home_.write_claude("p", "huge", transcript);
  transcript.clear();
  transcript.shrink_to_fit();

  const HostileRun run = home_.export_all({"--source", "claude", "--no-history"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(packed_texts(home_.archive()),
            (std::vector<std::string>{"small before", "small after", "reply"}));
  const nlohmann::json efficiency = nlohmann::json::parse(
      archive_entry(home_.archive(), "efficiency.json"), nullptr, false);
  ASSERT_TRUE(efficiency.is_object());
  // The compact JSON of the string content: the text and its two quotes.
  EXPECT_EQ(efficiency["sessions"][0]["tool_result_bytes"], kHuge + 2);
  // The line is held by the reader and the parser, not copied over and over.
  if (kMeasuresMemory) {
    EXPECT_LT(run.max_rss_kb, static_cast<long>(5 * kHuge / 1024)) << run.max_rss_kb;
  }
}

TEST_F(HostileJson, NumbersBeyondSixtyFourBitsCountAsNoTokens) {
  home_.write_claude(
      "p", "numbers",
      claude_line(json_text("huge members"), "2026-01-02T03:04:05Z")
              .insert(1, R"("n":-123456789012345678901234567890,"f":1e308,)") +
          R"({"type":"assistant","sessionId":"s1","timestamp":"2026-01-02T03:04:06Z",)"
          R"("message":{"content":[{"type":"text","text":"counted"}],"usage":{)"
          R"("input_tokens":18446744073709551615,"output_tokens":18446744073709551616,)"
          R"("cache_read_input_tokens":123456789012345678901234567890,)"
          R"("cache_creation_input_tokens":-1}}})"
          "\n" +
          claude_line(json_text("overflowing float"), "2026-01-02T03:04:07Z")
              .insert(1, R"("f":1e400,)"));

  const HostileRun run = home_.export_all({"--no-history"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(packed_texts(home_.archive()),
            (std::vector<std::string>{"huge members", "counted"}));
  const nlohmann::json efficiency = nlohmann::json::parse(
      archive_entry(home_.archive(), "efficiency.json"), nullptr, false);
  ASSERT_TRUE(efficiency.is_object());
  const nlohmann::json expected_tokens = {{"cache_read", 0},
                                          {"cache_write", 0},
                                          {"input", 18446744073709551615ull},
                                          {"output", 0},
                                          {"reasoning", 0}};
  EXPECT_EQ(efficiency["sessions"][0]["tokens"], expected_tokens);
  EXPECT_EQ(efficiency["sessions"][0]["turns"], 1);
}

TEST_F(HostileJson, LoneSurrogatesDropOnlyTheirLine) {
  home_.write_claude("p", "surrogates",
                     claude_line(R"("lone high \ud800")") +
                         claude_line(R"("lone low \udc00")") +
                         claude_line(R"("reversed \udc00\ud800")") +
                         claude_line(R"("pair \ud83d\ude00")"));
  home_.write_codex(
      "rollout-2026-01-02T03-04-05-surrogates",
      codex_rollout({R"("codex lone \udbff")", R"("codex pair \ud83d\ude00")"}));

  const HostileRun run = home_.export_all({"--no-history"});
  ASSERT_EQ(run.status, 0) << run.err;
  std::vector<std::string> texts = packed_texts(home_.archive());
  std::sort(texts.begin(), texts.end());
  EXPECT_EQ(texts, (std::vector<std::string>{"codex pair \xF0\x9F\x98\x80",
                                             "pair \xF0\x9F\x98\x80"}));
}

TEST_F(HostileJson, NulBytesParseOnlyWhenEscaped) {
  const std::string raw_nul_in_string = std::string(R"("raw )") + '\0' + R"( nul")";
  std::string after_value = claude_line(json_text("nul after the value"));
  after_value.insert(after_value.size() - 1, 1, '\0');
  home_.write_claude("p", "nul",
                     claude_line(raw_nul_in_string) + after_value +
                         claude_line("\"raw \x01 control\"") +
                         claude_line(R"("escaped \u0000 nul")"));

  const HostileRun run = home_.export_all({"--no-history"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(packed_texts(home_.archive()),
            (std::vector<std::string>{std::string("escaped \0 nul", 13)}));
  EXPECT_NE(
      archive_entry(home_.archive(), "conversations.json").find(R"(escaped \u0000 nul)"),
      std::string::npos);
}

TEST_F(HostileJson, InvalidUtf8EndsOnlyItsFile) {
  home_.write_claude("p", "broken",
                     claude_line(json_text("first line")) +
                         claude_line("\"bad \xC3\x28 byte\"") +
                         claude_line(json_text("never read")));
  home_.write_claude("q", "other",
                     claude_line(json_text("other file"), "2026-01-02T03:04:05Z", "s2"));
  write_file(home_.claude() / "history.jsonl",
             R"({"display":"history kept","timestamp":1767322000000,"sessionId":"h"})"
             "\n"
             "{\"display\":\"\xFF\",\"timestamp\":1,\"sessionId\":\"h\"}\n"
             R"({"display":"history lost","timestamp":1767322000000,"sessionId":"h"})"
             "\n");

  const HostileRun run = home_.export_all({"--source", "claude"});
  ASSERT_EQ(run.status, 0) << run.err;
  std::vector<std::string> texts = packed_texts(home_.archive());
  std::sort(texts.begin(), texts.end());
  EXPECT_EQ(texts,
            (std::vector<std::string>{"first line", "history kept", "other file"}));
}

}  // namespace
}  // namespace lorebox::testing
