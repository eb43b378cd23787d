#include "efficiency/accountant.h"

#include "json/line_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lorebox {
namespace {

// SipHash-c-d written straight from the algorithm's description, one whole
// message at a time, with any keys and round counts. It is checked against
// the published SipHash-2-4 vectors and then serves as the reference for the
// incremental SipHash-1-3 under test.
uint64_t reference_siphash(int c_rounds, int d_rounds, uint64_t k0, uint64_t k1,
                           const std::string& m) {
  auto rotl = [](uint64_t x, int b) { return (x << b) | (x >> (64 - b)); };
  uint64_t v0 = k0 ^ 0x736f6d6570736575ULL, v1 = k1 ^ 0x646f72616e646f6dULL;
  uint64_t v2 = k0 ^ 0x6c7967656e657261ULL, v3 = k1 ^ 0x7465646279746573ULL;
  auto sip_round = [&] {
    v0 += v1;
    v1 = rotl(v1, 13);
    v1 ^= v0;
    v0 = rotl(v0, 32);
    v2 += v3;
    v3 = rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = rotl(v1, 17);
    v1 ^= v2;
    v2 = rotl(v2, 32);
  };
  // Pad with zeros to a multiple of 8 bytes less one, then the length byte.
  std::string padded = m;
  while (padded.size() % 8 != 7) padded.push_back('\0');
  padded.push_back(static_cast<char>(m.size() & 0xFF));
  for (size_t i = 0; i < padded.size(); i += 8) {
    uint64_t word = 0;
    for (int j = 0; j < 8; ++j)
      word |= uint64_t{static_cast<unsigned char>(padded[i + j])} << (8 * j);
    v3 ^= word;
    for (int r = 0; r < c_rounds; ++r) sip_round();
    v0 ^= word;
  }
  v2 ^= 0xFF;
  for (int r = 0; r < d_rounds; ++r) sip_round();
  return v0 ^ v1 ^ v2 ^ v3;
}

std::string counting_bytes(size_t n) {
  std::string bytes;
  for (size_t i = 0; i < n; ++i) bytes.push_back(static_cast<char>(i));
  return bytes;
}

TEST(AccountantTest, ReferenceSipHashMatchesPublishedVectors) {
  // SipHash-2-4, key 00 01 .. 0f, messages 00 01 .. (n-1).
  const uint64_t k0 = 0x0706050403020100ULL, k1 = 0x0f0e0d0c0b0a0908ULL;
  const uint64_t expected[] = {0x726fdb47dd0e0e31ULL, 0x74f839c593dc67fdULL,
                               0x0d6c8009d9a94f5aULL, 0x85676696d7fb7e2dULL};
  for (size_t n = 0; n < std::size(expected); ++n)
    EXPECT_EQ(reference_siphash(2, 4, k0, k1, counting_bytes(n)), expected[n]) << n;
}

TEST(AccountantTest, SipHash13MatchesReferenceAndKnownValues) {
  for (size_t n = 0; n <= 70; ++n) {
    const std::string bytes = counting_bytes(n);
    EXPECT_EQ(siphash13(bytes), reference_siphash(1, 3, 0, 0, bytes)) << n;
  }
  // Values of an independent SipHash-1-3 with zero keys (CPython 3.11's
  // bytes hash with PYTHONHASHSEED=0).
  const struct {
    std::string bytes;
    uint64_t hash;
  } known[] = {
      {"a", 0x407448d2b89b1813ULL},
      {"abc", 0xc03bc3a0042630f2ULL},
      {"hello world", 0xb1b1f2e707e4ac8aULL},
      {counting_bytes(7), 0x2f098ab0c751325aULL},
      {counting_bytes(8), 0xead411e67ebe2eeaULL},
      {counting_bytes(15), 0xf30eb725bb91c9eaULL},
      {counting_bytes(16), 0x8972188433a5c5b7ULL},
      {counting_bytes(63), 0x385d3e39e5f37359ULL},
  };
  for (const auto& k : known) EXPECT_EQ(siphash13(k.bytes), k.hash) << k.bytes.size();
  EXPECT_EQ(call_fingerprint("Read", R"({"file_path":"/etc/hosts"})"),
            0x1b0d2fdd6a89f0f5ULL);
}

TEST(AccountantTest, FingerprintFramesNameAndInput) {
  // Every split point of the pieces across the 8-byte blocks.
  const std::string long_text = counting_bytes(40);
  for (size_t a = 0; a <= 17; ++a) {
    for (size_t b = 0; b <= 17; ++b) {
      const std::string name = long_text.substr(0, a), input = long_text.substr(a, b);
      EXPECT_EQ(call_fingerprint(name, input), siphash13(name + "\xFF" + input + "\xFF"))
          << a << " " << b;
    }
  }
  EXPECT_NE(call_fingerprint("ab", "c"), call_fingerprint("a", "bc"));
}

struct Call {
  std::string name, input;
};

TEST(AccountantTest, RecordToolCall) {
  const Call ls{"Bash", R"({"command":"ls"})"}, pwd{"Bash", R"({"command":"pwd"})"};
  const Call grep{"Grep", "{}"}, glob{"Glob", "{}"}, bare{"TodoRead", ""};
  const Call whole{"Read", R"({"file_path":"/a.txt"})"};
  const Call limit{"Read", R"({"file_path":"/a.txt","limit":20})"};
  const Call offset{"Read", R"({"file_path":"/a.txt","offset":3})"};
  const Call lower_read{"read", whole.input}, view{"View", whole.input};
  const Call snooze{"sleep", "{}"}, wait{"wait", ""}, monitor{"Monitor", ""};
  const Call agent{"wait_agent", ""}, output{"TaskOutput", ""}, agents{"list_agents", ""};
  const Call sleep_up{"Sleep", "{}"}, monitor_low{"monitor", ""};
  const struct {
    std::string what;
    std::vector<Call> calls;
    uint64_t tool_calls, repeated, whole_file_reads;
  } cases[] = {
      {"identical calls repeat", {ls, ls}, 2, 1, 0},
      {"different input", {ls, pwd}, 2, 0, 0},
      {"same input, other tool", {grep, glob}, 2, 0, 0},
      {"no input twice", {bare, bare}, 2, 1, 0},
      {"polling sleep", {snooze, snooze, snooze}, 3, 0, 0},
      {"wait and Monitor", {wait, wait, monitor, monitor}, 4, 0, 0},
      {"agent polling", {agent, agent, output, output, agents, agents}, 6, 0, 0},
      {"names are exact", {sleep_up, sleep_up, monitor_low, monitor_low}, 4, 2, 0},
      {"whole-file read", {whole}, 1, 0, 1},
      {"windowed reads", {limit, offset}, 2, 0, 0},
      {"repeated whole read", {whole, whole}, 2, 1, 2},
      {"only Read counts", {lower_read, view}, 2, 0, 0},
  };
  json::LineParser parser;
  for (const auto& c : cases) {
    // Each case both with input texts and with parsed inputs (none for an
    // empty text), which the readers pass.
    SessionEfficiency record, parsed;
    for (const Call& call : c.calls) {
      record_tool_call(record, call.name, call.input);
      std::optional<json::Element> input;
      if (!call.input.empty()) input = parser.parse(call.input);
      record_tool_call(parsed, call.name, input);
    }
    for (const SessionEfficiency* r : {&record, &parsed}) {
      EXPECT_EQ(r->tool_calls, c.tool_calls) << c.what;
      EXPECT_EQ(r->repeated_calls, c.repeated) << c.what;
      EXPECT_EQ(r->whole_file_reads, c.whole_file_reads) << c.what;
      uint64_t per_tool = 0;
      for (const auto& [name, count] : r->tools) per_tool += count;
      EXPECT_EQ(per_tool, c.tool_calls) << c.what;
    }
  }
  SessionEfficiency record;
  record_tool_call(record, "Bash", "{}");
  record_tool_call(record, "Bash", "{}");
  record_tool_call(record, "Edit", "{}");
  EXPECT_EQ(record.tools, (std::map<std::string, uint64_t>{{"Bash", 2}, {"Edit", 1}}));
}

TEST(AccountantTest, RecordCommandLabels) {
  // A credential-shaped word that can reach a label; built here so that no
  // literal key sits in the source.
  const std::string key = "AKIA" + std::string("Q3ZP7TNW") + "4KX2BRJM";
  const std::string webhook = "https://hooks.slack.com/services/T0A1B2C3D/B0E4F5G6H/" +
                              std::string("q8Wm2ZpR4tLk9XvB7nYc3HdF");
  const struct {
    std::string command;
    std::string label;  // empty: nothing recorded
    uint64_t whole_file_reads;
    std::string redacted_label = "";  // with redaction on, when it differs
  } cases[] = {
      {"FOO=1 BAR=2 git status --short", "git status", 0},
      {"cd app && npm test", "npm test", 0},
      {"cd /tmp", "cd", 0},
      {"/usr/bin/git -C repo status", "git", 0},
      {"git commit -m x", "git commit", 0},
      {"cargo +nightly build", "cargo", 0},
      {"npx ./bin/tool", "npx", 0},
      {"./scripts/run.sh --fast", "run.sh", 0},
      {"cat notes.txt", "cat", 1},
      {"less a", "less", 1},
      {"/bin/more a", "more", 1},
      {"ls", "ls", 0},
      {"  docker compose up -d\n", "docker compose", 0},
      {"npm run build", "npm run", 0},
      {"kubectl get-pods x", "kubectl get-pods", 0},
      {"git st\u00E4tus", "git st\u00E4tus", 0},
      {"git \u30B3\u30DF\u30C3\u30C8", "git \u30B3\u30DF\u30C3\u30C8", 0},
      {"git status;", "git", 0},
      // Devanagari vowel signs are Alphabetic marks; an accent is not.
      {"git \u0939\u093F", "git \u0939\u093F", 0},
      {"git e\u0301", "git", 0},
      {"git\u3000log", "git log", 0},
      {"gitx status", "gitx", 0},
      {"cd a && cd b && cargo build", "cargo build", 0},
      {"cd a && FOO=1 ls", "ls", 0},
      // An assignment is a variable name and '=', whatever the value holds.
      {"PATH=/opt/bin:x make", "make", 0},
      {"PATH=/opt/bin:x git status", "git status", 0},
      {"_X1= ls", "ls", 0},
      {"1A=x make", "1A=x", 0},
      {"a.b=c make", "a.b=c", 0},
      // A quoted value runs to its closing quote, white space and all; text
      // glued to that quote is the next word.
      {"SLACK_WEBHOOK_URL=\"" + webhook + "\" ./deploy.sh", "deploy.sh", 0},
      {"MSG='fix: a b' git commit -m x", "git commit", 0},
      {"A=\"x y\"B=1 cargo test", "cargo test", 0},
      {"A=\"x y\"git push", "git push", 0},
      {"A=\"no closing quote git status", "", 0},
      {"A=x\"y z\" ls", "z\"", 0},
      // Redaction masks a label that carries a credential.
      {"git " + key, "git " + key, 0, "git [redacted-secret]"},
      {"./" + key + " --help", key, 0, "[redacted-secret]"},
      {"cat", "cat", 1},
      {"  \t\n", "", 0},
      {"FOO=1", "", 0},
      {"cd a &&", "", 0},
      {"/usr/bin/ a", "", 0},
      {"-rf x", "", 0},
      {"./-x y", "", 0},
  };
  for (const auto& c : cases) {
    for (const bool redact : {false, true}) {
      SessionEfficiency record;
      record_command(record, c.command, redact);
      const std::string& label =
          redact && !c.redacted_label.empty() ? c.redacted_label : c.label;
      if (label.empty()) {
        EXPECT_TRUE(record.commands.empty()) << c.command;
      } else {
        EXPECT_EQ(record.commands, (std::map<std::string, uint64_t>{{label, 1}}))
            << c.command << (redact ? " (redacted)" : "");
      }
      EXPECT_EQ(record.whole_file_reads, c.whole_file_reads) << c.command;
    }
  }
}

TEST(AccountantTest, MergeAddsCountersAndDropsFingerprints) {
  uint64_t SessionEfficiency::*const counters[] = {
      &SessionEfficiency::turns,
      &SessionEfficiency::input,
      &SessionEfficiency::output,
      &SessionEfficiency::cache_read,
      &SessionEfficiency::cache_write,
      &SessionEfficiency::reasoning,
      &SessionEfficiency::tool_calls,
      &SessionEfficiency::repeated_calls,
      &SessionEfficiency::failed_calls,
      &SessionEfficiency::tool_result_bytes,
      &SessionEfficiency::whole_file_reads,
  };
  SessionEfficiency file;
  record_tool_call(file, "Read", "{}");
  record_tool_call(file, "Read", "{}");
  record_command(file, "cat x", /*redact=*/true);
  uint64_t value = 1;
  for (auto counter : counters) file.*counter += value++;  // distinct per counter

  SessionEfficiency session;
  merge_into(session, file);
  merge_into(session, file);
  for (auto counter : counters) EXPECT_EQ(session.*counter, 2 * (file.*counter));
  EXPECT_EQ(session.tools, (std::map<std::string, uint64_t>{{"Read", 4}}));
  EXPECT_EQ(session.commands, (std::map<std::string, uint64_t>{{"cat", 2}}));
  EXPECT_TRUE(session.call_fingerprints.empty());

  // Repeats are recognised within one file only.
  SessionEfficiency other;
  record_tool_call(other, "Read", "{}");
  merge_into(session, other);
  EXPECT_EQ(session.repeated_calls, 2 * file.repeated_calls);
}

TEST(AccountantTest, TopCounts) {
  using Top = std::vector<std::pair<std::string, uint64_t>>;
  std::map<std::string, uint64_t> nine, ties{{"Z", 2}};
  Top nine_top, ties_top{{"Z", 2}};
  for (uint64_t i = 9; i >= 1; --i) {
    nine["t" + std::to_string(i)] = i;
    if (i > 1) nine_top.emplace_back("t" + std::to_string(i), i);
  }
  for (char c : std::string("ihgfedcba")) ties[std::string(1, c)] = 1;
  for (char c : std::string("abcdefg")) ties_top.emplace_back(std::string(1, c), 1);
  const struct {
    std::map<std::string, uint64_t> counts;
    Top top;
  } cases[] = {
      {{}, {}},
      {nine, nine_top},
      {ties, ties_top},
      {{{"Edit", 3}, {"Bash", 3}, {"Read", 5}}, {{"Read", 5}, {"Bash", 3}, {"Edit", 3}}},
      // Byte order: upper case before lower case, ASCII before non-ASCII.
      {{{"b", 1}, {"B", 1}, {"\u00E9", 1}, {"z", 1}},
       {{"B", 1}, {"b", 1}, {"z", 1}, {"\u00E9", 1}}},
  };
  for (const auto& c : cases) EXPECT_EQ(top_counts(c.counts), c.top);
}

}  // namespace
}  // namespace lorebox
