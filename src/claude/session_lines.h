// Copied lines within the Claude Code reader: a session's lines gathered
// file by file, the within-session rules that keep a copied line once, and
// the table of lines shared with other sessions that the reader hands on.
#pragma once

#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "claude/claude_file.h"
#include "session/copied_lines.h"
#include "session/line_identity.h"
#include "session/session.h"

namespace lorebox {

// The remembered lines of one session while its files are merged.
class SessionLineLog {
 public:
  // Appends a file's remembered lines and charges. A line whose identity
  // was already accounted by an earlier file of the session gives back
  // what it added to `file_accounting` (which has not yet been merged into
  // the session) and keeps no charge.
  void absorb(ClaudeFile&& file, SessionEfficiency* file_accounting);

  const std::vector<FileLine>& lines() const { return lines_; }
  std::vector<LineCharge>& charges() { return charges_; }

 private:
  std::vector<FileLine> lines_;
  std::vector<LineCharge> charges_;
  // Accounted identities, built when a second file arrives.
  std::optional<std::unordered_set<LineIdentity, LineIdentityHash>> accounted_;
};

// Takes a line's tool accounting back out of a record (counts that reach
// zero leave their tables; counters never go below zero).
void take_back(const LineCharge& charge, SessionEfficiency* record);

// Drops from a session whose messages are sorted every message for which
// an earlier kept message has the same identity, role and text.
void drop_repeated_messages(Session* session);

// One session's id and remembered lines, for shared_lines.
struct LoggedSession {
  const std::string* id;
  SessionLineLog* log;
};

// The lines of each session whose identity occurs in another session too,
// with the responses they belong to and their charges, in the order given.
// Sessions without such lines are left out; the charges are moved out of
// the logs.
std::vector<SessionLines> shared_lines(const std::vector<LoggedSession>& sessions);

}  // namespace lorebox
