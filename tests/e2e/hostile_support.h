// Helpers for the hostile-input end-to-end tests: a home of agent logs in a
// temporary directory, a runner for the built binary that kills a run that
// hangs, an optional drop of root privileges, the child's peak memory and
// read counts, and readers for what the run left behind (archive entries,
// receipt).
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/temp_dir.h"

namespace lorebox::testing {

struct HostileRun {
  int status = -1;         // exit status, 128 + signal number, or -1
  std::string out;         // standard output
  std::string err;         // standard error
  bool timed_out = false;  // killed after the time limit
  long max_rss_kb = 0;     // the child's peak resident memory
  // The child's read system calls and the bytes they returned, as the
  // kernel counts them (/proc/<pid>/io); both 0 where it keeps no counts.
  uint64_t read_calls = 0;
  uint64_t bytes_read = 0;
};

// True when the tests run as root, who reads every file whatever its mode.
bool running_as_root();

// The text of a JSON string holding `text` (quotation marks included).
std::string json_text(std::string_view text);

// How HostileHome::run starts the binary.
struct HostileSettings {
  // As root, the child first becomes the user and group nobody and runs a
  // copy of the binary placed where nobody can run it (the build tree may
  // lie where nobody cannot enter), and the tree is opened up so that
  // nobody can enter it and write the output directory. A test first asks
  // HostileHome::why_no_unprivileged_run.
  bool unprivileged = false;
  // A run that outlasts this is killed: a guard against a run that hangs,
  // never a measure of speed.
  int timeout_seconds = 240;
  // The value of HOME; the home directory when empty.
  std::string home_variable;
  // When not empty (root only), the child mounts a tmpfs of 64 KiB on this
  // existing directory in a mount namespace of its own, so the mount
  // vanishes with it. A child that cannot do so (mount namespaces are
  // Linux's) exits with status 124.
  std::string small_tmpfs;
};

// A temporary home with .claude and .codex below it, an output directory
// beside it, and a runner that points lorebox at them.
class HostileHome {
 public:
  HostileHome();

  const std::filesystem::path& root() const { return dir_.path(); }
  std::filesystem::path home() const { return root() / "home"; }
  std::filesystem::path claude() const { return home() / ".claude"; }
  std::filesystem::path codex() const { return home() / ".codex"; }
  std::filesystem::path projects() const { return claude() / "projects"; }
  std::filesystem::path sessions() const { return codex() / "sessions"; }
  std::filesystem::path out() const { return root() / "out"; }
  std::filesystem::path archive() const { return out() / "archive.zip"; }
  std::filesystem::path receipt() const { return out() / "receipt.json"; }

  // Writes a Claude Code transcript projects/<project>/<name>.jsonl.
  void write_claude(std::string_view project, std::string_view name,
                    std::string_view bytes);
  // Writes a Codex rollout below sessions/2026/01/02/.
  void write_codex(std::string_view name, std::string_view bytes);

  // Why runs with HostileSettings::unprivileged cannot work here, "" when
  // they can: as root, the user nobody must exist and be able to reach
  // this home and run the copy of the binary (a temporary directory that
  // only root may enter keeps it out). Not root, nothing is dropped.
  std::string why_no_unprivileged_run();

  // Runs lorebox with HOME, the working directory root(), and the
  // arguments.
  HostileRun run(const std::vector<std::string>& args, const HostileSettings& settings);
  HostileRun run(const std::vector<std::string>& args) {
    return run(args, HostileSettings());
  }
  // run() with "--output archive() --receipt receipt()" added.
  HostileRun export_all(std::vector<std::string> args = {},
                        const HostileSettings& settings = HostileSettings());

 private:
  // As root: opens the tree up for nobody and copies the binary, once, into
  // a directory of its own that everyone may enter; the copy.
  std::filesystem::path prepare_unprivileged_run();

  TempDir dir_;
  std::optional<TempDir> binary_dir_;
};

// One Claude Code user line of `session` whose "content" is the raw JSON
// `content` (a string, or an array of blocks).
std::string claude_line(std::string_view content,
                        std::string_view time = "2026-01-02T03:04:05Z",
                        std::string_view session = "s1");
// A Codex rollout with one user message per raw JSON string in `texts`.
std::string codex_rollout(const std::vector<std::string>& texts);

// The names of the archive's entries, in order (empty when it cannot be
// listed).
std::vector<std::string> archive_names(const std::filesystem::path& archive);
// The bytes of one archive entry ("" when missing).
std::string archive_entry(const std::filesystem::path& archive, std::string_view name);
// The text of every message in conversations.json, in archive order.
std::vector<std::string> packed_texts(const std::filesystem::path& archive);
// The receipt as JSON (discarded when missing or unparsable).
nlohmann::json read_receipt(const std::filesystem::path& path);

}  // namespace lorebox::testing
