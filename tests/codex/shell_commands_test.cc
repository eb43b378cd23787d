#include "codex/shell_commands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

}  // namespace
}  // namespace lorebox
