// The command line and the driver's failures, through the built binary.
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/run_binary.h"
#include "support/temp_dir.h"

namespace lorebox {
namespace {

using testing::run_lorebox;
using testing::RunOptions;
using testing::RunResult;
using testing::TempDir;

class CliEndToEnd : public ::testing::Test {
 protected:
  // Runs with HOME pointing at an empty temporary home.
  RunResult run(std::vector<std::string> args) {
    RunOptions options;
    options.env = {{"HOME", home_.path().string()}, {"PATH", "/usr/bin:/bin"}};
    options.cwd = home_.path();
    return run_lorebox(args, options);
  }
  TempDir home_;
};

TEST_F(CliEndToEnd, VersionAndHelpExitZero) {
  for (const char* flag : {"-V", "--version"}) {
    RunResult r = run({flag});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "lorebox 0.1.2\n");
  }
  RunResult short_help = run({"-h"});
  EXPECT_EQ(short_help.status, 0);
  EXPECT_NE(short_help.out.find(
                "Pack local Claude Code and Codex sessions into a Hearthmark archive"),
            std::string::npos);
  EXPECT_EQ(short_help.out.find("Reads the transcripts"), std::string::npos);
  RunResult long_help = run({"--help"});
  EXPECT_EQ(long_help.status, 0);
  EXPECT_NE(
      long_help.out.find("Reads the transcripts Claude Code and Codex already keep"),
      std::string::npos);
  for (const char* option : {"--output",
                             "-o",
                             "--source",
                             "--claude-dir",
                             "--codex-dir",
                             "--since",
                             "--no-assistant",
                             "--no-redact",
                             "--include-subagents",
                             "--max-message-chars",
                             "--dry-run",
                             "--list",
                             "--no-history",
                             "--no-usage",
                             "--modified-before",
                             "--receipt",
                             "--jobs",
                             "EPOCH_SECONDS",
                             "CLAUDE_CONFIG_DIR",
                             "CODEX_HOME"}) {
    SCOPED_TRACE(option);
    EXPECT_NE(long_help.out.find(option), std::string::npos);
  }
}

TEST_F(CliEndToEnd, UsageErrorsExitTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {"--bogus"},
      {"--output"},
      {"--source", "Claude"},
      {"--source", "both"},
      {"--dry-run", "--dry-run"},
      {"-o", "a.zip", "--output", "b.zip"},
      {"--max-message-chars", "-5"},
      {"--max-message-chars", "five"},
      {"--max-message-chars", "99999999999999999999"},
      {"--max-message-chars", " 5"},
      {"--modified-before", "1000"},
      {"--modified-before", "soon", "--no-history"},
      {"--jobs", "0"},
      {"--jobs", "1025"},
      {"--jobs", "-2"},
      {"--jobs", "all"},
      {"--jobs", "2", "--jobs", "3"},
      {"positional"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args.front() + (args.size() > 1 ? " " + args[1] : ""));
    RunResult r = run(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.out.empty());
    EXPECT_FALSE(r.err.empty());
  }
}

TEST_F(CliEndToEnd, AcceptedValuesReachTheDriver) {
  // Each of these parses; the empty home then has no sessions.
  const std::vector<std::vector<std::string>> cases = {
      {"--max-message-chars", "+5"},
      {"--max-message-chars", "0"},
      {"--modified-before", "1.7e9", "--no-history"},
      {"--source", "codex"},
      {"--list", "--dry-run"},
      {"--jobs", "1"},
      {"--jobs", "+12"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args.front());
    RunResult r = run(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("lorebox: No sessions were found. Check --claude-dir and "
                         "--codex-dir, or widen --since.\n"),
              std::string::npos);
  }
}

TEST_F(CliEndToEnd, BadSinceFailsBeforeAnythingElse) {
  RunOptions options;  // no HOME at all
  RunResult r = run_lorebox({"--since", "yesterday"}, options);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "lorebox: --since expects a YYYY-MM-DD date, got `yesterday`\n");
  EXPECT_EQ(r.out, "");
}

TEST_F(CliEndToEnd, MissingHomeDirectory) {
  RunOptions options;
  options.env = {{"HOME", ""}, {"USERPROFILE", home_.path().string()}};
  RunResult r = run_lorebox({"--source", "codex"}, options);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(
      r.err,
      "lorebox: Could not find a home directory. Pass --claude-dir and --codex-dir.\n");
}

TEST_F(CliEndToEnd, NoSessionsNamesBothReadingLines) {
  RunResult r = run({});
  EXPECT_EQ(r.status, 1);
  const std::string home = home_.path().string();
  EXPECT_EQ(r.err, "Reading Claude Code sessions from " + home + "/.claude\n" +
                       "Reading Codex sessions from " + home + "/.codex\n" +
                       "lorebox: No sessions were found. Check --claude-dir and "
                       "--codex-dir, or widen --since.\n");
  EXPECT_EQ(r.out, "");
}

TEST_F(CliEndToEnd, FailedStandardOutputIsReportedNotIgnored) {
  RunOptions options;
  options.env = {{"HOME", home_.path().string()}};
  options.stdout_file = "/dev/full";  // every write fails with ENOSPC
  RunResult r = run_lorebox({"--version"}, options);
  EXPECT_NE(r.status, 0);
  r = run_lorebox(
      {"--claude-dir", LOREBOX_SOURCE_DIR "/examples/home/.claude", "--codex-dir",
       LOREBOX_SOURCE_DIR "/examples/home/.codex", "--dry-run", "--list"},
      options);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("lorebox: internal error: could not write to standard output: "
                       "No space left on device\n"),
            std::string::npos)
      << r.err;
}

// An allocation that fails (here under a limit on the data size smaller than
// the prompts it must keep) ends the run with the program's own message and
// status 1, not an abort.
TEST_F(CliEndToEnd, AnEscapedExceptionIsReportedAsAnInternalError) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer's shadow memory exceeds any tight limit";
#else
  std::string transcript;
  const std::string words(16 * 1024, 'w');
  for (int i = 0; i < 2000; ++i)  // 32 MiB of distinct prompts
    transcript += R"({"type":"user","sessionId":"s","timestamp":"2025-01-01T00:00:00Z",)"
                  R"("message":{"role":"user","content":"prompt )" +
                  std::to_string(i) + " " + words + "\"}}\n";
  testing::write_file(home_.path() / ".claude/projects/p/s.jsonl", transcript);
  RunOptions options;
  options.env = {{"HOME", home_.path().string()}};
  options.cwd = home_.path();
  options.data_limit = size_t{20} << 20;
  RunResult r = run_lorebox({"--dry-run"}, options);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("\nlorebox: internal error: std::bad_alloc\n"), std::string::npos)
      << r.err;
#endif
}

// Every option word of a text: "--name" or "-x".
std::set<std::string> option_words(const std::string& text) {
  std::set<std::string> words;
  const std::regex option(R"((^|[^\w-])(--?[A-Za-z][\w-]*))");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), option);
       it != std::sregex_iterator(); ++it)
    words.insert((*it)[2]);
  return words;
}

TEST_F(CliEndToEnd, ManualPageNamesEveryOptionOfTheHelp) {
  std::string manual = testing::read_file(LOREBOX_SOURCE_DIR "/man/lorebox.1");
  ASSERT_FALSE(manual.empty());
  std::string plain;  // roff escapes removed: "\-\-since" becomes "--since"
  for (size_t i = 0; i < manual.size(); ++i) {
    if (manual[i] == '\\' && i + 1 < manual.size() && manual[i + 1] == '-') continue;
    plain += manual[i];
  }
  RunResult help = run({"--help"});
  const std::set<std::string> in_help = option_words(help.out);
  const std::set<std::string> in_manual = option_words(plain);
  EXPECT_GE(in_help.size(), 17u);
  for (const std::string& word : in_help) {
    SCOPED_TRACE(word);
    EXPECT_TRUE(in_manual.count(word));
  }
  for (const std::string& word : in_manual) {
    SCOPED_TRACE(word);
    EXPECT_TRUE(in_help.count(word));
  }
}

}  // namespace
}  // namespace lorebox
