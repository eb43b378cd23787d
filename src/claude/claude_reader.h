// The Claude Code transcript reader.
#pragma once

#include <filesystem>

#include "scan/file_stamp.h"
#include "session/pack_options.h"
#include "session/result.h"

namespace lorebox {

// Reads every transcript under "{claude_home}/projects" into sessions (one
// per "sessionId", ascending by id, messages sorted). Fails only in strict
// mode, with one of the three snapshot messages.
Result<SourceScan> read_claude_sessions(const std::filesystem::path& claude_home,
                                        const PackOptions& options);

}  // namespace lorebox
