#include "archive/title.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace lorebox {
namespace {

const std::string kEllipsis = "\xE2\x80\xA6";

Message user(std::string text) { return Message{std::move(text), std::nullopt, 1.0, Role::User}; }
Message reply(std::string text) {
  return Message{std::move(text), std::string("m"), 2.0, Role::Assistant};
}

struct TitleCase {
  const char* name;
  std::optional<std::string> stored;
  std::vector<Message> messages;
  SourceKind source;
  std::string expected;
};

TEST(DisplayTitleTest, FollowsTheTitleRules) {
  const std::string a72(72, 'a');
  const std::string e72 = [] {
    std::string s;
    for (int i = 0; i < 72; ++i) s += "\xC3\xA9";  // é, two bytes each
    return s;
  }();
  const TitleCase cases[] = {
      {"stored title trimmed", std::string("  Fix the build \n"), {user("x")},
       SourceKind::Codex, "Fix the build"},
      {"long stored title kept whole", std::string(100, 't'), {user("x")},
       SourceKind::Codex, std::string(100, 't')},
      {"stored title of spaces ignored", std::string("   "), {user("Hello")},
       SourceKind::Codex, "Hello"},
      {"stored title of unicode spaces ignored", std::string("\xE3\x80\x80\xC2\xA0"),
       {user("Hello")}, SourceKind::Codex, "Hello"},
      {"short prompt unchanged", std::nullopt, {user("Add retries")},
       SourceKind::ClaudeCode, "Add retries"},
      {"72 characters unchanged", std::nullopt, {user(a72)}, SourceKind::ClaudeCode, a72},
      {"73 characters cut", std::nullopt, {user(a72 + "b")}, SourceKind::ClaudeCode,
       a72 + kEllipsis},
      {"72 two-byte characters unchanged", std::nullopt, {user(e72)},
       SourceKind::ClaudeCode, e72},
      {"73 two-byte characters cut", std::nullopt, {user(e72 + "\xC3\xA9")},
       SourceKind::ClaudeCode, e72 + kEllipsis},
      {"second line earns ellipsis", std::nullopt,
       {user("Rename the config loader\nand update callers")}, SourceKind::Codex,
       "Rename the config loader" + kEllipsis},
      {"final line feed earns ellipsis", std::nullopt, {user("Hi\n")},
       SourceKind::Codex, "Hi" + kEllipsis},
      {"surrounding spaces earn ellipsis", std::nullopt, {user("  Hi")},
       SourceKind::Codex, "Hi" + kEllipsis},
      {"blank first lines skipped", std::nullopt, {user("\n   \r\n\tFirst real line")},
       SourceKind::Codex, "First real line" + kEllipsis},
      {"carriage return ends a line", std::nullopt, {user("One\r\nTwo")},
       SourceKind::Codex, "One" + kEllipsis},
      {"first user message, not first message", std::nullopt,
       {reply("Answer"), user("Question"), user("Later")}, SourceKind::Codex, "Question"},
      {"no user message", std::nullopt, {reply("Answer")}, SourceKind::ClaudeCode,
       "Claude Code session"},
      {"no messages", std::nullopt, {}, SourceKind::Codex, "Codex session"},
      {"blank first prompt, later prompts ignored", std::nullopt,
       {user(" \n \n"), user("Second")}, SourceKind::Codex, "Codex session"},
      {"empty stored title, blank prompt", std::string(""), {user("\t")},
       SourceKind::ClaudeCode, "Claude Code session"},
  };
  for (const TitleCase& c : cases) {
    Session session;
    session.id = "claude-1";
    session.title = c.stored;
    session.messages = c.messages;
    session.source = c.source;
    EXPECT_EQ(display_title(session), c.expected) << c.name;
  }
}

}  // namespace
}  // namespace lorebox
