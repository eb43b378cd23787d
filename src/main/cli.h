// The command line: its declaration, parsing into Cli, and the options the
// run derives from it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "session/pack_options.h"
#include "session/result.h"
#include "session/version.h"

namespace lorebox {

// The value of --source.
enum class SourceChoice { All, Claude, Codex };

// The parsed command line, one field per option.
struct Cli {
  std::optional<std::filesystem::path> output;
  SourceChoice source = SourceChoice::All;
  std::optional<std::filesystem::path> claude_dir;
  std::optional<std::filesystem::path> codex_dir;
  std::optional<std::string> since;  // raw text; the driver validates it
  bool no_assistant = false;
  bool no_redact = false;
  bool include_subagents = false;
  std::optional<uint64_t> max_message_chars;
  bool dry_run = false;
  bool list = false;
  bool no_history = false;
  bool no_usage = false;
  std::optional<double> modified_before;
  std::optional<std::filesystem::path> receipt;
  std::optional<unsigned> jobs;  // threads to read and compress on
};

// What parsing the arguments came to: a Cli to run, or an exit status after
// the parser printed help, the version (0) or a usage error (2).
struct ParsedCommandLine {
  std::optional<Cli> cli;
  int exit_status = 0;
};

// Parses the process arguments. Help and version go to standard output,
// usage errors to standard error.
ParsedCommandLine parse_command_line(int argc, const char* const* argv);

// The reading options of a run; `since` is the already validated instant.
PackOptions pack_options(const Cli& cli, std::optional<double> since);

// The largest --jobs value accepted.
inline constexpr unsigned kMaxJobs = 1024;

// Checks a --jobs value: a decimal from 1 to kMaxJobs, with an optional "+".
std::optional<unsigned> parse_jobs(std::string_view text);
// Checks an unsigned decimal that fits in 64 bits, with an optional "+".
std::optional<uint64_t> parse_unsigned(std::string_view text);
// Checks a decimal floating-point number: optional sign, digits with an
// optional fraction, optional exponent.
std::optional<double> parse_decimal_float(std::string_view text);

}  // namespace lorebox
