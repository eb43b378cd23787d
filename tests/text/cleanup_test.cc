#include "text/cleanup.h"

#include <gtest/gtest.h>

#include <string>

namespace lorebox {
namespace {

using Maybe = std::optional<std::string>;

TEST(CleanupTest, ElementText) {
  struct Case {
    std::string_view text, name;
    Maybe expected;
  } cases[] = {
      {"<a> inner </a>", "a", "inner"},
      {"x <a></a> y", "a", ""},
      {"<a>first</a><a>second</a>", "a", "first"},
      {"<a x=\"1\">attrs</a>", "a", std::nullopt},
      {"<a>never closed", "a", std::nullopt},
      {"</a><a>", "a", std::nullopt},  // the closing tag must follow the opening one
      {"<ab>x</ab>", "a", std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(element_text(c.text, c.name), c.expected) << c.text;
}

TEST(CleanupTest, CommandPrompt) {
  struct Case {
    std::string_view text;
    Maybe expected;
  } cases[] = {
      {"<command-name>/model</command-name><command-args>opus</command-args>",
       "/model opus"},
      {"<command-message>model</command-message>\n<command-name>/model</command-name>",
       "/model"},
      {"<command-name>/model</command-name><command-args>  </command-args>", "/model"},
      {"<command-name></command-name><command-args>fix the bug</command-args>",
       "fix the bug"},
      {"<command-name></command-name><command-args></command-args>", std::nullopt},
      {"<command-name>/model", std::nullopt},
      // Names written without their slash get one; empty names do not.
      {"<command-name>init</command-name>\n<command-args></command-args>", "/init"},
      {"<command-name> model </command-name><command-args>opus</command-args>",
       "/model opus"},
      {"<command-args>opus</command-args>", std::nullopt},
      {"plain prompt", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(command_prompt(c.text), c.expected) << c.text;
}

TEST(CleanupTest, ClaudeNoise) {
  const std::string_view noise[] = {
      "",
      " \n\t",
      "<task-notification>done</task-notification>",
      "<bash-notification>\n<shell-id>b18a41f</shell-id>\n<status>failed</status>",
      "<system-reminder>be brief</system-reminder>",
      "  \n<system-reminder>leading white space</system-reminder>",
      "<system-reminder type=\"x\">attributes</system-reminder>",
      "<local-command-stdout>ok</local-command-stdout>",
      "<command-message>init is running</command-message>",
      "<bash-stdout>",
      "<bash-stderr>oops",
      "<user-prompt-submit-hook>hook</user-prompt-submit-hook>",
      "<bash-input>git status</bash-input>",
      "<local-command-stderr>Error: no such command</local-command-stderr>",
      "<local-command-caveat>Caveat: the messages below were "
      "generated</local-command-caveat>",
      "This session is being continued from a previous conversation that ran out",
      "[Request interrupted by user]",
      "[Request interrupted by user for tool use]",
      "API Error: 529 overloaded",
  };
  for (std::string_view text : noise) EXPECT_TRUE(is_claude_noise(text)) << text;
  const std::string_view kept[] = {
      "please look <system-reminder>x</system-reminder>",
      "[Request interrupted",
      "[Request interrupted by user",
      "api error in the logs",
      "<system>not a listed tag</system>",
      "This session is being continued",
      "<command-name>/clear</command-name>",
      "<bash>not a listed tag either</bash>",
  };
  for (std::string_view text : kept) EXPECT_FALSE(is_claude_noise(text)) << text;
}

TEST(CleanupTest, CleanCodexPrompt) {
  struct Case {
    std::string_view in, out;
  } cases[] = {
      {"  just a prompt \n", "just a prompt"},
      {"# Files mentioned by the user:\n\n## a.rs: /src/a.rs\n\n## My request:\n"
       "please fix it",
       "please fix it"},
      {"\n# Files mentioned by the user:\n## x\n## My request:   \n do it  ", "do it"},
      {"# Files mentioned by the user:\n## a.rs: /src/a.rs",
       "# Files mentioned by the user:\n## a.rs: /src/a.rs"},
      {"look <image name=[Image #1]>data</image> here", "look  here"},
      {"<image name=a>x</image>one <image >y</image>two", "one two"},
      {"broken <image name=a> no end", "broken <image name=a> no end"},
      {"first <image a>x</image> then <image b> open", "first  then <image b> open"},
      {"<image>not an element start</image>", "<image>not an element start</image>"},
      {" <image name=only>pixels</image> ", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(clean_codex_prompt(c.in), c.out) << c.in;
}

TEST(CleanupTest, CodexInternal) {
  const std::string_view internal[] = {
      "",
      "  ",
      "<environment_context>cwd</environment_context>",
      "<recommended_plugins>",
      "<turn_aborted>",
      "<subagent_notification>",
      "<user_instructions>",
      "<INSTRUCTIONS>",
      "<app-context>",
      "<codex_internal_context>",
      "<in-app-browser-context>",
      "<chrome_tabs>",
      "<ambient_state>",
      " <environment_context attr=1>",
      "# AGENTS.md instructions for /repo",
      "# Global agent instructions",
      "Another language model started to solve this problem and produced a summary",
  };
  for (std::string_view text : internal) EXPECT_TRUE(is_codex_internal(text)) << text;
  const std::string_view kept[] = {
      "# AGENTS",
      "# agents.md",
      "fix <turn_aborted>",
      "<environment>",
      "<instructions>",
      "Another language model",
      "# Files mentioned by the user:",
  };
  for (std::string_view text : kept) EXPECT_FALSE(is_codex_internal(text)) << text;
}

TEST(CleanupTest, TruncateCountsCharacters) {
  const std::string_view marker = "\u2026 [truncated]";
  struct Case {
    std::string_view in;
    std::optional<uint64_t> limit;
    std::string out;
  } cases[] = {
      {"  h\u00E9llo world ", std::nullopt, "h\u00E9llo world"},
      {"h\u00E9llo world", 5, "h\u00E9llo" + std::string(marker)},
      {"h\u00E9llo", 5, "h\u00E9llo"},
      {"hello world", 6, "hello " + std::string(marker)},
      {"hello world", 11, "hello world"},
      {"x", 0, std::string(marker)},
      {"  ", 0, ""},
      {"\U0001F600\U0001F600\U0001F600", 2, "\U0001F600\U0001F600" + std::string(marker)},
  };
  for (const Case& c : cases) EXPECT_EQ(truncate_message(c.in, c.limit), c.out) << c.in;
}

TEST(CleanupTest, FinishMessage) {
  const std::string key = "sk-" + std::string(30, 'a');
  struct Case {
    std::string in;
    bool redact;
    std::optional<uint64_t> limit;
    Maybe out;
  } cases[] = {
      {" key " + key + " ", true, std::nullopt, "key [redacted-secret]"},
      {" key " + key + " ", false, std::nullopt, "key " + key},
      // Redaction comes first, so a key across the cut is never half shown.
      {"key " + key, true, 10, "key [redac\u2026 [truncated]"},
      {"key " + key, false, 10, "key sk-aaa\u2026 [truncated]"},
      {" \u3000\n", true, std::nullopt, std::nullopt},
      {"\t", false, 0, std::nullopt},
      {"a", true, 0, "\u2026 [truncated]"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(finish_message(c.in, c.redact, c.limit), c.out) << c.in;
}

}  // namespace
}  // namespace lorebox
