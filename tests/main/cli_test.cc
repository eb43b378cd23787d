#include "main/cli.h"

#include <optional>
#include <vector>

#include <gtest/gtest.h>

namespace lorebox {
namespace {

TEST(ParseUnsigned, AcceptsPlainAndPlusSignedDecimals) {
  EXPECT_EQ(parse_unsigned("0"), 0u);
  EXPECT_EQ(parse_unsigned("+5"), 5u);
  EXPECT_EQ(parse_unsigned("2000"), 2000u);
  EXPECT_EQ(parse_unsigned("18446744073709551615"), UINT64_MAX);
}

TEST(ParseUnsigned, RejectsEverythingElse) {
  for (const char* text : {"-5", "", "+", " 5", "5 ", "5x", "0x10", "1e3",
                           "18446744073709551616", "++5", "1.0"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(parse_unsigned(text).has_value());
  }
}

TEST(ParseJobs, TakesOneTo1024Threads) {
  const std::pair<const char*, std::optional<unsigned>> cases[] = {
      {"1", 1u},
      {"+2", 2u},
      {"1024", 1024u},
      {"0", std::nullopt},
      {"1025", std::nullopt},
      {"-1", std::nullopt},
      {"", std::nullopt},
      {"two", std::nullopt},
      {"4294967297", std::nullopt},
      {" 3", std::nullopt},
  };
  for (const auto& [text, jobs] : cases) EXPECT_EQ(parse_jobs(text), jobs) << text;
}

TEST(ParseDecimalFloat, AcceptsTheUsualSyntax) {
  const std::pair<const char*, double> cases[] = {
      {"1000", 1000.0}, {"1.7e9", 1.7e9},
      {"-2.5", -2.5},   {"+3", 3.0},
      {".5", 0.5},      {"5.", 5.0},
      {"1E+3", 1e3},    {"999.5", 999.5},
      {"1e-2", 0.01},   {"1760000000.25", 1760000000.25}};
  for (const auto& [text, value] : cases) {
    SCOPED_TRACE(text);
    ASSERT_TRUE(parse_decimal_float(text).has_value());
    EXPECT_EQ(*parse_decimal_float(text), value);
  }
}

TEST(ParseDecimalFloat, RejectsNonNumbers) {
  for (const char* text : {"", "abc", "1e", "e5", ".", "-", "inf", "nan", "0x1p3", "1,5",
                           " 1", "1 ", "1.2.3"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(parse_decimal_float(text).has_value());
  }
}

// Parses a command line given as words after the program name.
ParsedCommandLine parse(std::vector<const char*> words) {
  words.insert(words.begin(), "lorebox");
  return parse_command_line(static_cast<int>(words.size()), words.data());
}

TEST(ParseCommandLine, DefaultsWhenNothingIsGiven) {
  ParsedCommandLine parsed = parse({});
  ASSERT_TRUE(parsed.cli.has_value());
  EXPECT_EQ(parsed.cli->source, SourceChoice::All);
  EXPECT_FALSE(parsed.cli->output.has_value());
  EXPECT_FALSE(parsed.cli->max_message_chars.has_value());
  EXPECT_FALSE(parsed.cli->dry_run);
  EXPECT_FALSE(parsed.cli->jobs.has_value());
}

TEST(ParseCommandLine, TakesEveryOption) {
  ParsedCommandLine parsed = parse({"-o",
                                    "out/x.zip",
                                    "--source",
                                    "codex",
                                    "--claude-dir",
                                    "~/c",
                                    "--codex-dir",
                                    "rel/dir",
                                    "--since",
                                    "yesterday",
                                    "--no-assistant",
                                    "--no-redact",
                                    "--include-subagents",
                                    "--max-message-chars",
                                    "+5",
                                    "--dry-run",
                                    "--list",
                                    "--no-history",
                                    "--no-usage",
                                    "--modified-before",
                                    "1.7e9",
                                    "--receipt",
                                    "r.json",
                                    "--jobs",
                                    "7"});
  ASSERT_TRUE(parsed.cli.has_value());
  const Cli& cli = *parsed.cli;
  EXPECT_EQ(cli.output->string(), "out/x.zip");
  EXPECT_EQ(cli.source, SourceChoice::Codex);
  EXPECT_EQ(cli.claude_dir->string(), "~/c");  // kept exactly as typed
  EXPECT_EQ(cli.codex_dir->string(), "rel/dir");
  EXPECT_EQ(*cli.since, "yesterday");
  EXPECT_TRUE(cli.no_assistant && cli.no_redact && cli.include_subagents && cli.dry_run &&
              cli.list && cli.no_history && cli.no_usage);
  EXPECT_EQ(*cli.max_message_chars, 5u);
  EXPECT_EQ(*cli.modified_before, 1.7e9);
  EXPECT_EQ(cli.receipt->string(), "r.json");
  EXPECT_EQ(cli.jobs, 7u);

  const PackOptions options = pack_options(cli, 12.0);
  EXPECT_EQ(*options.since, 12.0);
  EXPECT_FALSE(options.include_assistant);
  EXPECT_FALSE(options.redact);
  EXPECT_FALSE(options.include_history);
  EXPECT_FALSE(options.include_usage);
  EXPECT_TRUE(options.include_subagents);
  EXPECT_EQ(*options.max_message_chars, 5u);
  EXPECT_EQ(*options.modified_before, 1.7e9);
}

}  // namespace
}  // namespace lorebox
