// Helpers shared by the history recovery tests: messages, sessions and a
// recovery run over a temporary home.
#pragma once

#include <string>
#include <vector>

#include "history/history_recovery.h"
#include "support/temp_dir.h"

namespace lorebox::testing {

using Texts = std::vector<std::string>;

inline Message msg(std::string text, double timestamp, Role role = Role::User) {
  return Message{std::move(text), std::nullopt, timestamp, role};
}

// Runs recovery over a temporary home whose history holds `lines` (no
// history file at all when there are none).
inline RecoveryCounts recover(std::vector<Session>& sessions, SourceKind source,
                              const std::vector<std::string>& lines,
                              const PackOptions& opts = {},
                              const TitleTable& titles = {}) {
  TempDir home;
  std::string history;
  for (const std::string& line : lines) history += line + "\n";
  if (!lines.empty()) write_file(home / "history.jsonl", history);
  return recover_from_history(sessions, home.path(), source, titles, opts);
}

}  // namespace lorebox::testing
