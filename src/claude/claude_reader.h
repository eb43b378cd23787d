// The Claude Code transcript reader.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "scan/reading_context.h"
#include "session/file_stamp.h"
#include "session/pack_options.h"
#include "session/result.h"

namespace lorebox {

// Reads every transcript under "{claude_home}/projects" into sessions (one
// per "sessionId", ascending by id, messages sorted), on the context's
// workers when it has any (the result is the same). Fails only in strict
// mode, with one of the three snapshot messages.
Result<SourceScan> read_claude_sessions(const std::filesystem::path& claude_home,
                                        const PackOptions& options,
                                        const ReadingContext& context);

// Number of non-empty components of a path relative to the transcript root
// ("project/session.jsonl" is 2).
size_t path_depth(std::string_view relative_path);

// The session id of a transcript without "sessionId": "claude-" and the file
// name (the last component of `path`) without its last extension (both
// extensions of a ".jsonl.zst" name), with invalid UTF-8 replaced by U+FFFD.
std::string file_name_session_id(std::string_view path);

}  // namespace lorebox
