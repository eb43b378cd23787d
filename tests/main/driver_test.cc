#include "main/driver.h"

#include <map>
#include <string>

#include <gtest/gtest.h>

namespace lorebox {
namespace {

// An environment made of the given variables only.
EnvLookup env_of(std::map<std::string, std::string> vars) {
  return [vars = std::move(vars)](const char* name) -> const char* {
    auto it = vars.find(name);
    return it == vars.end() ? nullptr : it->second.c_str();
  };
}

TEST(HomeDirectory, FollowsHomeThenUserprofile) {
  EXPECT_EQ(home_directory(env_of({{"HOME", "/h"}}))->string(), "/h");
  EXPECT_EQ(home_directory(env_of({{"HOME", "/h"}, {"USERPROFILE", "/u"}}))->string(),
            "/h");
  EXPECT_EQ(home_directory(env_of({{"USERPROFILE", "/u"}}))->string(), "/u");
  // An empty HOME means no home; USERPROFILE is then not consulted.
  EXPECT_FALSE(home_directory(env_of({{"HOME", ""}, {"USERPROFILE", "/u"}})));
  EXPECT_FALSE(home_directory(env_of({{"USERPROFILE", ""}})));
  EXPECT_FALSE(home_directory(env_of({})));
}

TEST(ResolveAgentHomes, FlagsThenAgentVariablesThenHome) {
  Cli cli;
  Result<AgentHomes> homes = resolve_agent_homes(cli, env_of({{"HOME", "/h"}}));
  ASSERT_TRUE(homes);
  EXPECT_EQ(homes->claude.string(), "/h/.claude");
  EXPECT_EQ(homes->codex.string(), "/h/.codex");

  homes = resolve_agent_homes(
      cli, env_of({{"HOME", "/h"}, {"CLAUDE_CONFIG_DIR", "/cc"}, {"CODEX_HOME", "/cx"}}));
  ASSERT_TRUE(homes);
  EXPECT_EQ(homes->claude.string(), "/cc");
  EXPECT_EQ(homes->codex.string(), "/cx");

  // Empty agent variables are ignored.
  homes = resolve_agent_homes(
      cli, env_of({{"HOME", "/h"}, {"CLAUDE_CONFIG_DIR", ""}, {"CODEX_HOME", ""}}));
  ASSERT_TRUE(homes);
  EXPECT_EQ(homes->claude.string(), "/h/.claude");

  cli.claude_dir = "rel/claude";
  cli.codex_dir = "/abs/codex";
  homes = resolve_agent_homes(cli, env_of({{"CLAUDE_CONFIG_DIR", "/cc"}}));
  ASSERT_TRUE(homes);
  EXPECT_EQ(homes->claude.string(), "rel/claude");
  EXPECT_EQ(homes->codex.string(), "/abs/codex");
}

TEST(ResolveAgentHomes, FailsWithoutAHomeForEitherAgent) {
  const char* message =
      "Could not find a home directory. Pass --claude-dir and --codex-dir.";
  Cli cli;
  cli.source = SourceChoice::Codex;  // both homes are resolved whatever the source
  cli.codex_dir = "/x";
  Result<AgentHomes> homes = resolve_agent_homes(cli, env_of({{"HOME", ""}}));
  ASSERT_FALSE(homes);
  EXPECT_EQ(homes.error(), message);
  cli.codex_dir.reset();
  cli.claude_dir = "/x";
  homes = resolve_agent_homes(cli, env_of({}));
  ASSERT_FALSE(homes);
  EXPECT_EQ(homes.error(), message);
}

TEST(SinceInstant, AcceptsDatesAndFullTimestamps) {
  EXPECT_FALSE(*since_instant(std::nullopt));
  EXPECT_EQ(**since_instant("2025-03-01"), 1740787200.0);
  EXPECT_EQ(**since_instant("2025-03-01T10:00:00Z"), 1740787200.0 + 36000);
}

TEST(SinceInstant, RejectsOtherTexts) {
  for (const char* text :
       {"yesterday", "2025-3-1", "2025-03-01T10:00", "", "2025-03-01 "}) {
    SCOPED_TRACE(text);
    Result<std::optional<double>> since = since_instant(std::string(text));
    ASSERT_FALSE(since);
    EXPECT_EQ(since.error(),
              std::string("--since expects a YYYY-MM-DD date, got `") + text + "`");
  }
}

TEST(SizeText, KilobytesBelowATenthOfAMegabyte) {
  const std::pair<uint64_t, const char*> cases[] = {
      {51200, "50 KB"},   {2621440, "2.5 MB"},      {1048575, "1.0 MB"},
      {104857, "102 KB"}, {104858, "0.1 MB"},       {0, "0 KB"},
      {1536, "2 KB"},     {5368709120, "5120.0 MB"}};
  for (const auto& [bytes, text] : cases) {
    SCOPED_TRACE(bytes);
    EXPECT_EQ(size_text(bytes), text);
  }
}

}  // namespace
}  // namespace lorebox
