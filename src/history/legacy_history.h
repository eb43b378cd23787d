// Claude Code prompt history written before it recorded a session id:
// those prompts are rebuilt into sessions of their own, one per project and
// stretch of work.
#pragma once

#include <string>
#include <vector>

#include "history/history_entry.h"
#include "history/history_recovery.h"
#include "session/session.h"

namespace lorebox {

// A legacy history entry (HistoryEntry::legacy) and its finished text:
// trimmed, redacted and truncated as any recovered prompt, never empty.
struct LegacyPrompt {
  const HistoryEntry* entry;  // must outlive the call below
  std::string text;
};

// Adds the legacy prompts (in file order) to `sessions`, after every entry
// with a session id has been recovered:
//  1. Per project (absent equals absent) and text, the entries are grouped
//     into prompts (within 2 seconds of each other: one prompt written
//     twice), and each user message of the project's Claude Code sessions
//     with that text stands for the prompt nearest in time to it
//     (history/prompt_copies.h). A prompt left over is still present when
//     its first entry had pasted text appended and a user message of the
//     project lies within 2.0 seconds of it. Entries of present prompts
//     are dropped.
//  2. The rest are taken in time order (file order on ties), per project;
//     a project's first entry, and each one more than 1800 seconds after
//     the project's previous one, starts a new session. Only the first
//     entry of each prompt adds a message; the others count for the gaps.
//  3. Each such session, appended in the order of its first prompt, has the
//     id "claude-history-" and 16 lowercase hex digits of SipHash-1-3 over
//     the project (empty when absent), one byte 0xFF and its first time as
//     the archive writes times, so it is the same from run to run; the
//     project of its prompts; no title; sorted messages.
// Returns (prompts added, sessions built).
RecoveryCounts rebuild_legacy_sessions(std::vector<Session>& sessions,
                                       const std::vector<LegacyPrompt>& prompts);

}  // namespace lorebox
