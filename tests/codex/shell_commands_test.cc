#include "codex/shell_commands.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "json/line_parser.h"

namespace lorebox {
namespace {

struct CommandCase {
  std::string input;
  std::vector<std::string> expected;
};

TEST(ExtractCommands, FollowsTheLiteralAndItsEscapes) {
  const CommandCase cases[] = {
      {R"({"cmd":"git status"})", {"git status"}},
      {R"({"cmd":"echo \"hi\"","workdir":"/w"})", {"echo \"hi\""}},
      {R"({"cmd":"make\ntest"})", {"make test"}},
      {R"({"cmd":"a\\b"})", {"a\\b"}},
      {R"({"cmd":"a\tb"})", {"atb"}},
      {R"({"cmd":"  ls  "})", {"  ls  "}},  // kept untrimmed
      {R"({"cmd":" \n "})", {}},            // only white space
      {R"({"cmd":""})", {}},
      {R"([{"cmd":"ls"},{"x":{"cmd":"pwd"}}])", {"ls", "pwd"}},
      {R"({"cmd":"ls -l)", {"ls -l"}},  // runs to the end of the text
      {R"({"cmd":"ls\)", {"ls"}},       // a final backslash ends it
      {R"({"cmd": "ls"})", {}},         // not compact: no literal
      {R"("{\"cmd\":\"ls\"}")", {}},    // a quoted string never matches
      {R"({"cmd":["ls"]})", {}},
      {"null", {}},
      {"", {}},
  };
  for (const CommandCase& c : cases) {
    std::vector<std::string> found = {"earlier"};  // appended to, never cleared
    extract_commands(c.input, &found);
    std::vector<std::string> expected = {"earlier"};
    expected.insert(expected.end(), c.expected.begin(), c.expected.end());
    EXPECT_EQ(found, expected) << c.input;
  }
}

TEST(ArgvCommand, ShellScriptsAndJoinedWords) {
  using Maybe = std::optional<std::string>;
  const struct {
    std::string arguments;
    Maybe expected;
  } cases[] = {
      {R"({"command":["zsh","-lc","ls -la"]})", "ls -la"},
      {R"({"command":["bash","-c","git status"],"workdir":"/w"})", "git status"},
      {R"({"command":["/bin/sh","-c","make"]})", "make"},
      {R"({"command":["/usr/local/bin/bash","-lc","npm test","extra"]})", "npm test"},
      // Not a shell, not -c / -lc, or too short: the words joined.
      {R"({"command":["fish","-c","ls"]})", "fish -c ls"},
      {R"({"command":["bash","-x","ls"]})", "bash -x ls"},
      {R"({"command":["bash","-lc"]})", "bash -lc"},
      {R"({"command":["git","log","--oneline"]})", "git log --oneline"},
      {R"({"command":["ls"]})", "ls"},
      {R"({"command":["bash","-lc",""]})", ""},
      // Nothing usable.
      {R"({"command":[]})", std::nullopt},
      {R"({"command":["ls",1]})", std::nullopt},
      {R"({"command":"ls"})", std::nullopt},
      {R"({"cmd":["ls"]})", std::nullopt},
      {R"(["bash","-lc","ls"])", std::nullopt},
  };
  json::LineParser parser;
  for (const auto& c : cases) {
    std::optional<json::Element> arguments = parser.parse(c.arguments);
    ASSERT_TRUE(arguments) << c.arguments;
    EXPECT_EQ(argv_command(*arguments), c.expected) << c.arguments;
  }
}

}  // namespace
}  // namespace lorebox
