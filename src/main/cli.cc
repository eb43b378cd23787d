#include "main/cli.h"

#include <charconv>
#include <cstdlib>

#include <CLI/CLI.hpp>

#include "main/console.h"

namespace lorebox {

namespace {

constexpr const char* kAbout =
    "Pack local Claude Code and Codex sessions into a Hearthmark archive";
constexpr const char* kLongAbout =
    "Reads the transcripts Claude Code and Codex already keep on this machine "
    "and writes one ZIP holding your prompts and the assistant's replies. Tool "
    "calls, tool output, reasoning traces, and file contents are left behind. "
    "Upload the ZIP to Hearthmark without unzipping it.";

constexpr const char* kFooter =
    "Environment:\n"
    "  CLAUDE_CONFIG_DIR  Claude Code home when --claude-dir is not given\n"
    "  CODEX_HOME         Codex home when --codex-dir is not given\n"
    "  HOME               otherwise ~/.claude and ~/.codex (USERPROFILE when "
    "HOME is unset)\n"
    "\n"
    "Exit status: 0 success, 1 failure (the reason follows \"lorebox: \" on "
    "standard error), 2 usage error.";

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Shows the short about for -h and the long one for --help: --help is the
// parser's "help all" flag, which formats in the All mode.
class LoreboxFormatter : public CLI::Formatter {
 public:
  std::string make_help(const CLI::App* app, std::string name,
                        CLI::AppFormatMode mode) const override {
    long_ = mode == CLI::AppFormatMode::All;
    return CLI::Formatter::make_help(app, std::move(name), CLI::AppFormatMode::Normal);
  }
  std::string make_description(const CLI::App*) const override {
    return std::string(long_ ? kLongAbout : kAbout) + "\n\n";
  }

 private:
  mutable bool long_ = false;
};

// Adds a flag that may be given once.
CLI::Option* add_flag(CLI::App& app, const char* name, bool* target, const char* help) {
  return app.add_flag(name, *target, help)
      ->multi_option_policy(CLI::MultiOptionPolicy::Throw);
}

}  // namespace

std::optional<uint64_t> parse_unsigned(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  for (char c : text)
    if (!is_digit(c)) return std::nullopt;
  uint64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<unsigned> parse_jobs(std::string_view text) {
  std::optional<uint64_t> value = parse_unsigned(text);
  if (!value || *value < 1 || *value > kMaxJobs) return std::nullopt;
  return static_cast<unsigned>(*value);
}

std::optional<double> parse_decimal_float(std::string_view text) {
  std::string_view body = text;
  bool negative = false;
  if (!body.empty() && (body.front() == '+' || body.front() == '-')) {
    negative = body.front() == '-';
    body.remove_prefix(1);
  }
  // digits [ "." digits? ] | "." digits, then an optional exponent.
  size_t pos = 0;
  size_t int_digits = 0, frac_digits = 0;
  while (pos < body.size() && is_digit(body[pos])) ++pos, ++int_digits;
  if (pos < body.size() && body[pos] == '.') {
    ++pos;
    while (pos < body.size() && is_digit(body[pos])) ++pos, ++frac_digits;
  }
  if (int_digits + frac_digits == 0) return std::nullopt;
  if (pos < body.size() && (body[pos] == 'e' || body[pos] == 'E')) {
    ++pos;
    if (pos < body.size() && (body[pos] == '+' || body[pos] == '-')) ++pos;
    size_t exp_digits = 0;
    while (pos < body.size() && is_digit(body[pos])) ++pos, ++exp_digits;
    if (exp_digits == 0) return std::nullopt;
  }
  if (pos != body.size()) return std::nullopt;
  // The syntax is checked above; strtod (in the default "C" locale) reads
  // it, overflowing to infinity and underflowing to zero.
  const std::string digits(body);
  const double value = std::strtod(digits.c_str(), nullptr);
  return negative ? -value : value;
}

ParsedCommandLine parse_command_line(int argc, const char* const* argv) {
  CLI::App app(kAbout, "lorebox");
  app.formatter(std::make_shared<LoreboxFormatter>());
  app.set_help_flag("-h", "Print help (--help for more)");
  app.set_help_all_flag("--help", "Print help");
  app.set_version_flag("-V,--version", std::string("lorebox ") + kVersion,
                       "Print version");
  app.footer(kFooter);
  app.get_formatter()->column_width(34);

  Cli cli;
  std::string output, claude_dir, codex_dir, since, receipt, max_chars, before, jobs;
  std::string source = "all";

  app.add_option("-o,--output", output, "Where to write the archive")
      ->option_text("PATH");
  app.add_option("--source", source, "Which agent's sessions to read")
      ->option_text("SOURCE [default: all] [possible values: all, claude, codex]")
      ->check(CLI::IsMember({"all", "claude", "codex"}));
  app.add_option("--claude-dir", claude_dir,
                 "Claude Code home directory (default: $CLAUDE_CONFIG_DIR, "
                 "else ~/.claude)")
      ->option_text("PATH");
  app.add_option("--codex-dir", codex_dir,
                 "Codex home directory (default: $CODEX_HOME, else ~/.codex)")
      ->option_text("PATH");
  app.add_option("--since", since,
                 "Only pack sessions last active on or after this date "
                 "(YYYY-MM-DD)")
      ->option_text("DATE");
  add_flag(app, "--no-assistant", &cli.no_assistant,
           "Pack only your prompts, leaving out the assistant's replies");
  add_flag(app, "--no-redact", &cli.no_redact, "Leave credential-shaped tokens unmasked");
  add_flag(app, "--include-subagents", &cli.include_subagents,
           "Also pack transcripts of subagents your sessions spawned");
  app.add_option("--max-message-chars", max_chars,
                 "Truncate any single message longer than this many characters")
      ->option_text("N")
      ->check(
          [](const std::string& value) -> std::string {
            return parse_unsigned(value)
                       ? std::string()
                       : "expects an unsigned 64-bit integer, got `" + value + "`";
          },
          "N");
  add_flag(app, "--dry-run", &cli.dry_run,
           "Report what would be packed without writing the archive");
  add_flag(app, "--list", &cli.list, "Print one line per session");
  CLI::Option* no_history =
      add_flag(app, "--no-history", &cli.no_history,
               "Pack only sessions with a surviving transcript, ignoring the "
               "prompt history both CLIs keep for sessions they have since "
               "pruned");
  add_flag(app, "--no-usage", &cli.no_usage,
           "Leave out the token and tool accounting that explains why "
           "sessions were expensive. The report's efficiency findings need it");
  app.add_option("--modified-before", before,
                 "Include only transcript files whose filesystem mtime is "
                 "strictly before this epoch")
      ->option_text("EPOCH_SECONDS")
      ->check(
          [](const std::string& value) -> std::string {
            return parse_decimal_float(value)
                       ? std::string()
                       : "expects a number of seconds, got `" + value + "`";
          },
          "EPOCH_SECONDS")
      ->needs(no_history);
  app.add_option("--receipt", receipt,
                 "Write a private aggregate receipt after a successful archive "
                 "export")
      ->option_text("PATH");
  app.add_option("--jobs", jobs,
                 "Read and compress on N threads, 1 to 1024 (default: the CPUs "
                 "this process may use)")
      ->option_text("N")
      ->check(
          [](const std::string& value) -> std::string {
            return parse_jobs(value)
                       ? std::string()
                       : "expects a number of threads from 1 to " +
                             std::to_string(kMaxJobs) + ", got `" + value + "`";
          },
          "N");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    check_library_streams();
    return ParsedCommandLine{std::nullopt, status == 0 ? 0 : 2};
  }

  auto given = [&app](const char* name) { return app.count(name) > 0; };
  if (given("--output")) cli.output = std::filesystem::path(output);
  cli.source = source == "claude"  ? SourceChoice::Claude
               : source == "codex" ? SourceChoice::Codex
                                   : SourceChoice::All;
  if (given("--claude-dir")) cli.claude_dir = std::filesystem::path(claude_dir);
  if (given("--codex-dir")) cli.codex_dir = std::filesystem::path(codex_dir);
  if (given("--since")) cli.since = since;
  if (given("--max-message-chars")) cli.max_message_chars = parse_unsigned(max_chars);
  if (given("--modified-before")) cli.modified_before = parse_decimal_float(before);
  if (given("--receipt")) cli.receipt = std::filesystem::path(receipt);
  if (given("--jobs")) cli.jobs = parse_jobs(jobs);
  return ParsedCommandLine{std::move(cli), 0};
}

PackOptions pack_options(const Cli& cli, std::optional<double> since) {
  PackOptions options;
  options.max_message_chars = cli.max_message_chars;
  options.since = since;
  options.modified_before = cli.modified_before;
  options.include_subagents = cli.include_subagents;
  options.include_assistant = !cli.no_assistant;
  options.redact = !cli.no_redact;
  options.include_history = !cli.no_history;
  options.include_usage = !cli.no_usage;
  return options;
}

}  // namespace lorebox
