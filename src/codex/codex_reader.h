// The Codex rollout reader.
#pragma once

#include <filesystem>

#include "scan/file_stamp.h"
#include "session/pack_options.h"
#include "session/result.h"

namespace lorebox {

// Reads every rollout under "{codex_home}/sessions" and then
// "{codex_home}/archived_sessions", one session per file that yields a
// message, in reading order. Fails only in strict mode, with one of the
// three snapshot messages.
Result<SourceScan> read_codex_sessions(const std::filesystem::path& codex_home,
                                       const PackOptions& options);

}  // namespace lorebox
