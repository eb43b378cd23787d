// The run driver: turns a parsed command line into one run — resolve the
// homes, read the sources, recover history, filter and sort, report, and
// write the archive and the receipt.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "main/cli.h"
#include "session/result.h"

namespace lorebox {

// Looks an environment variable up; nullptr when it is not set.
using EnvLookup = std::function<const char*(const char* name)>;

// The user's home directory: HOME when set (none when it is empty), else
// USERPROFILE by the same rule only when HOME is not set at all.
std::optional<std::filesystem::path> home_directory(const EnvLookup& env);

// The two agent homes of a run.
struct AgentHomes {
  std::filesystem::path claude;
  std::filesystem::path codex;
};

// --claude-dir, else a non-empty CLAUDE_CONFIG_DIR, else HOME/.claude; the
// same for Codex with --codex-dir and CODEX_HOME. Fails when a home has to
// come from a home directory that cannot be found.
Result<AgentHomes> resolve_agent_homes(const Cli& cli, const EnvLookup& env);

// The --since instant: 00:00:00 UTC of the given date (or the instant of a
// full timestamp with a zone).
Result<std::optional<double>> since_instant(const std::optional<std::string>& since);

// "50 KB" below 0.1 MB, else "2.5 MB".
std::string size_text(uint64_t bytes);

// Runs the whole export once. Returns one failure message, or success.
Result<void> run(const Cli& cli);
// The same, with the environment given (for tests).
Result<void> run(const Cli& cli, const EnvLookup& env);

}  // namespace lorebox
