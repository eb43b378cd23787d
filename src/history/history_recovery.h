// Prompt-history recovery: adds prompts that surviving transcripts lost and
// rebuilds sessions whose transcripts were pruned.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "codex/session_index.h"
#include "session/pack_options.h"
#include "session/session.h"

namespace lorebox {

struct RecoveryCounts {
  uint64_t recovered_prompts = 0;
  uint64_t rebuilt_sessions = 0;
};

// Reads "{agent_home}/history.jsonl" of the given source and merges its
// prompts into `sessions` (changed in place; every session's messages are
// re-sorted afterwards). `titles` names rebuilt sessions (empty for Claude
// Code). Never fails.
RecoveryCounts recover_from_history(std::vector<Session>& sessions,
                                    const std::filesystem::path& agent_home,
                                    SourceKind source, const TitleTable& titles,
                                    const PackOptions& options);

}  // namespace lorebox
