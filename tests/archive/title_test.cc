#include "archive/title.h"

#include <gtest/gtest.h>

#include "archive/test_sessions.h"

namespace lorebox {
namespace {

using testing::reply;
using testing::user;

const std::string kEllipsis = "\xE2\x80\xA6";

std::string title_of(std::optional<std::string> stored, std::vector<Message> messages,
                     SourceKind source = SourceKind::Codex) {
  Session session = testing::make_session("s", source, std::move(messages));
  session.title = std::move(stored);
  return display_title(session);
}

TEST(DisplayTitleTest, StoredTitleOrFirstPromptLine) {
  const std::string a72(72, 'a');
  std::string e72;  // 72 two-byte characters
  for (int i = 0; i < 72; ++i) e72 += "\xC3\xA9";
  // {stored title, first prompt, expected}
  const std::tuple<std::optional<std::string>, std::string, std::string> cases[] = {
      {"  Fix the build \n", "x", "Fix the build"},
      {std::string(100, 't'), "x", std::string(100, 't')},
      {" \xE3\x80\x80\xC2\xA0", "Hello", "Hello"},  // only white space
      {std::nullopt, a72, a72},
      {std::nullopt, a72 + "b", a72 + kEllipsis},
      {std::nullopt, e72, e72},
      {std::nullopt, e72 + "\xC3\xA9", e72 + kEllipsis},
      {std::nullopt, "Hi\n", "Hi" + kEllipsis},
      {std::nullopt, "  Hi", "Hi" + kEllipsis},
      {std::nullopt, "\n   \r\n\tFirst\r\nSecond", "First" + kEllipsis},
      {"", " \n \n", "Codex session"},
  };
  for (const auto& [stored, prompt, expected] : cases) {
    EXPECT_EQ(title_of(stored, {user(prompt, 1)}), expected) << prompt;
  }
}

TEST(DisplayTitleTest, UsesTheFirstUserMessageOrTheSourceName) {
  EXPECT_EQ(
      title_of(std::nullopt, {reply("A", 1, "m"), user("Question", 2), user("B", 3)}),
      "Question");
  EXPECT_EQ(title_of(std::nullopt, {user(" \n", 1), user("Second", 2)}), "Codex session");
  EXPECT_EQ(title_of(std::nullopt, {reply("A", 1, "m")}, SourceKind::ClaudeCode),
            "Claude Code session");
  EXPECT_EQ(title_of(std::nullopt, {}), "Codex session");
}

}  // namespace
}  // namespace lorebox
