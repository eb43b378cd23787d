// Prompt-history recovery: adds prompts that surviving transcripts lost and
// rebuilds sessions whose transcripts were pruned.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "session/copied_lines.h"
#include "session/pack_options.h"
#include "session/session.h"
#include "session/title_table.h"

namespace lorebox {

struct RecoveryCounts {
  uint64_t recovered_prompts = 0;
  uint64_t rebuilt_sessions = 0;
};

// Reads "{agent_home}/history.jsonl" of the given source and merges its
// prompts into `sessions` (changed in place): a prompt missing from its
// surviving session is appended to it, and a session id with no session
// rebuilds that session from its prompts. A prompt is present when a message
// of either role has exactly its trimmed, redacted and truncated text, or,
// for a Claude Code prompt with pasted text, when the session held a user
// message within 2 seconds of it before this call. Claude Code prompts
// recorded without a session id are then rebuilt into sessions by project
// and time (history/legacy_history.h). Unless the history has
// no usable entry, every session's messages are re-sorted afterwards and
// created_at set. `titles` names rebuilt sessions by native id (redacted
// when redaction is on; pass an empty table for Claude Code). An entry whose
// native id is not a session but one of `aliases` (native id to session id,
// from the Claude Code reader) is filed under that session. Only the redact
// flag and the message limit of `options` are used. Never fails.
RecoveryCounts recover_from_history(std::vector<Session>& sessions,
                                    const std::filesystem::path& agent_home,
                                    SourceKind source, const TitleTable& titles,
                                    const PackOptions& options,
                                    const SessionAliases& aliases = SessionAliases());

}  // namespace lorebox
