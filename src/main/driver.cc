// The run, in order:
//   1. home directory; 2. --since (checked before anything else can fail);
//   3. agent homes; 4. reading options, and the worker threads;
//   5. Claude Code sessions; 6. Codex sessions (with the session index's
//   titles, read once for both the reader and recovery); 7. history recovery;
//   then Claude Code lines copied into several sessions are kept in one;
//   8. the --since filter; 9. a stable sort by created_at;
//   10. nothing left: the receipt or the "No sessions" failure;
//   11-12. the report and the listing; 13. a dry run ends here;
//   14-17. the archive and its closing lines; 18. the receipt.
#include "main/driver.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "archive/receipt.h"
#include "archive/zip_archive.h"
#include "claude/claude_reader.h"
#include "claude/continuations.h"
#include "codex/codex_reader.h"
#include "codex/session_index.h"
#include "history/history_recovery.h"
#include "main/console.h"
#include "main/progress_line.h"
#include "main/report.h"
#include "parallel/cpu_count.h"
#include "parallel/worker_pool.h"
#include "session/file_stamp.h"
#include "session/session.h"
#include "time/timestamp.h"

namespace lorebox {

namespace {

constexpr const char* kNoHome =
    "Could not find a home directory. Pass --claude-dir and --codex-dir.";
constexpr const char* kNoSessions =
    "No sessions were found. Check --claude-dir and --codex-dir, or widen "
    "--since.";

// A variable's value when it is set and not empty.
std::optional<std::filesystem::path> non_empty(const EnvLookup& env, const char* name) {
  const char* value = env(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::filesystem::path(value);
}

// Adds what one reader found to what the run has gathered so far (a
// SourceScan of every source read).
void take_over(SourceScan scan, SourceScan* gathered) {
  for (Session& session : scan.sessions) gathered->sessions.push_back(std::move(session));
  for (StampedSource& source : scan.sources)
    gathered->sources.push_back(std::move(source));
  gathered->skipped_files += scan.skipped_files;
  for (SessionLines& lines : scan.shared_lines)
    gathered->shared_lines.push_back(std::move(lines));
  gathered->aliases.merge(scan.aliases);
}

// Keeps the sessions last active on or after `since`, in order.
void filter_since(std::vector<Session>* sessions, double since) {
  std::erase_if(*sessions, [since](const Session& session) {
    return !(since <= updated_time(session));
  });
}

}  // namespace

std::optional<std::filesystem::path> home_directory(const EnvLookup& env) {
  for (const char* name : {"HOME", "USERPROFILE"}) {
    const char* value = env(name);
    if (value == nullptr) continue;  // unset: try the next variable
    if (*value == '\0') return std::nullopt;
    return std::filesystem::path(value);
  }
  return std::nullopt;
}

Result<AgentHomes> resolve_agent_homes(const Cli& cli, const EnvLookup& env) {
  const std::optional<std::filesystem::path> home = home_directory(env);
  AgentHomes homes;
  if (cli.claude_dir) {
    homes.claude = *cli.claude_dir;
  } else if (auto configured = non_empty(env, "CLAUDE_CONFIG_DIR")) {
    homes.claude = *configured;
  } else if (home) {
    homes.claude = *home / ".claude";
  } else {
    return Fail(kNoHome);
  }
  if (cli.codex_dir) {
    homes.codex = *cli.codex_dir;
  } else if (auto configured = non_empty(env, "CODEX_HOME")) {
    homes.codex = *configured;
  } else if (home) {
    homes.codex = *home / ".codex";
  } else {
    return Fail(kNoHome);
  }
  return homes;
}

Result<std::optional<double>> since_instant(const std::optional<std::string>& since) {
  if (!since) return std::optional<double>();
  if (std::optional<double> instant = parse_timestamp(*since + "T00:00:00Z"))
    return std::optional<double>(*instant);
  return Fail(fmt::format("--since expects a YYYY-MM-DD date, got `{}`", *since));
}

std::string size_text(uint64_t bytes) {
  const double megabytes = static_cast<double>(bytes) / 1048576.0;
  if (megabytes < 0.1)
    return fmt::format("{:.0f} KB", static_cast<double>(bytes) / 1024.0);
  return fmt::format("{:.1f} MB", megabytes);
}

Result<void> run(const Cli& cli) {
  return run(cli, [](const char* name) { return std::getenv(name); });
}

Result<void> run(const Cli& cli, const EnvLookup& env) {
  // Steps 1-4: --since first, then the homes and the options.
  Result<std::optional<double>> since = since_instant(cli.since);
  if (!since) return Fail(since.error());
  Result<AgentHomes> homes = resolve_agent_homes(cli, env);
  if (!homes) return Fail(homes.error());
  const PackOptions options = pack_options(cli, *since);
  const bool claude = cli.source != SourceChoice::Codex;
  const bool codex = cli.source != SourceChoice::Claude;
  // With one job everything runs on this thread, as it always did.
  const unsigned jobs = cli.jobs.value_or(default_jobs());
  std::optional<WorkerPool> pool;
  if (jobs > 1) pool.emplace(jobs);
  WorkerPool* workers = pool && pool->size() > 0 ? &*pool : nullptr;

  // Steps 5-6: the transcript readers.
  SourceScan gathered;
  ProgressLine progress(stderr_is_terminal());
  ReadingContext context;
  context.pool = workers;
  context.progress = progress.observer();
  if (claude) {
    write_stderr(
        fmt::format("Reading Claude Code sessions from {}\n", homes->claude.string()));
    Result<SourceScan> scan = progress.track(
        [&] { return read_claude_sessions(homes->claude, options, context); });
    if (!scan) return Fail(scan.error());
    take_over(std::move(*scan), &gathered);
  }
  // The reader takes no titles in strict mode, and recovery runs only
  // without --no-history: the index is read when one of them needs it.
  TitleTable titles;
  if (codex && (!options.modified_before || options.include_history))
    titles = read_session_index(homes->codex);
  if (codex) {
    write_stderr(fmt::format("Reading Codex sessions from {}\n", homes->codex.string()));
    Result<SourceScan> scan = progress.track(
        [&] { return read_codex_sessions(homes->codex, options, titles, context); });
    if (!scan) return Fail(scan.error());
    take_over(std::move(*scan), &gathered);
  }
  progress.report_skipped();

  // Step 7: prompt-history recovery.
  if (options.include_history) {
    RecoveryCounts total;
    auto add = [&total](const RecoveryCounts& counts) {
      total.recovered_prompts += counts.recovered_prompts;
      total.rebuilt_sessions += counts.rebuilt_sessions;
    };
    if (claude)
      add(recover_from_history(gathered.sessions, homes->claude, SourceKind::ClaudeCode,
                               TitleTable(), options, gathered.aliases));
    if (codex)
      add(recover_from_history(gathered.sessions, homes->codex, SourceKind::Codex, titles,
                               options));
    if (total.recovered_prompts != 0)
      write_stderr(fmt::format("Recovered {} from prompt history, rebuilding {}\n",
                               count_phrase(total.recovered_prompts, "prompt"),
                               count_phrase(total.rebuilt_sessions, "pruned session")));
  }

  // Claude Code lines copied between sessions are kept in one of them.
  settle_copied_lines(gathered.shared_lines, &gathered.sessions, &gathered.sources);
  gathered.shared_lines.clear();

  // Steps 8-9: filter by last activity, then order by start.
  std::vector<Session>& sessions = gathered.sessions;
  if (options.since) filter_since(&sessions, *options.since);
  std::stable_sort(sessions.begin(), sessions.end(),
                   [](const Session& a, const Session& b) {
                     return total_order_less(a.created_at, b.created_at);
                   });

  // Step 10: nothing to pack.
  if (sessions.empty()) {
    if (!cli.receipt) return Fail(kNoSessions);
    Result<void> receipt =
        write_receipt(*cli.receipt, gathered.sources, gathered.skipped_files, sessions);
    if (!receipt) return receipt;
    write_stdout("No sessions matched; wrote receipt.\n");
    return {};
  }

  // Steps 11-13: the report; a dry run ends here.
  write_stdout(summary_lines(sessions));
  if (cli.list) {
    std::string listing;
    for (const Session& session : sessions) {
      listing += session_line(session);
      listing += '\n';
    }
    write_stdout(listing);
  }
  if (cli.dry_run) {
    write_stdout("\nDry run: nothing was written.\n");
    return {};
  }

  // Steps 14-17: the archive.
  Result<WrittenArchive> archive = write_archive(cli.output, sessions, options, workers);
  if (!archive) return Fail(archive.error());
  uint64_t prompts = 0;
  for (const Session& session : sessions) prompts += prompt_count(session);
  write_stdout(fmt::format("\nWrote {} ({}, {})\n", archive->path.string(),
                           count_phrase(prompts, "prompt"), size_text(archive->size)));
  if (cli.no_redact)
    write_stdout("Secrets were not masked: this archive was built with --no-redact.\n");
  write_stdout("Upload it to Hearthmark without unzipping it.\n");

  // Step 18: the receipt.
  if (cli.receipt) {
    Result<void> receipt =
        write_receipt(*cli.receipt, gathered.sources, gathered.skipped_files, sessions);
    if (!receipt) return receipt;
  }
  return {};
}

}  // namespace lorebox
