// The Codex rollout reader.
#pragma once

#include <filesystem>

#include "scan/reading_context.h"
#include "session/file_stamp.h"
#include "session/pack_options.h"
#include "session/result.h"
#include "session/title_table.h"

namespace lorebox {

// Reads every rollout under "{codex_home}/sessions" and then
// "{codex_home}/archived_sessions" (a missing root is passed over), one
// session per file that yields a message, in reading order; sessions are
// never merged, so two files of one thread give two sessions with one id.
// Rollouts written before records had an envelope are read too, and so are
// the ".json" session documents directly in "sessions", except those whose
// conversation another document continues.
// Spawned and internal background threads are left out unless
// `options.include_subagents`. Titles come from `titles`, the session index
// (read_session_index), masked when redacting; none is used when
// `options.modified_before` is set. Files are read on the context's workers
// when it has any (the result is the same). Fails only in strict mode, with
// one of the three snapshot messages.
Result<SourceScan> read_codex_sessions(const std::filesystem::path& codex_home,
                                       const PackOptions& options,
                                       const TitleTable& titles,
                                       const ReadingContext& context);

}  // namespace lorebox
