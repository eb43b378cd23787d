// The Codex session index: thread names by thread id.
#pragma once

#include <filesystem>

#include "session/title_table.h"

namespace lorebox {

// Reads "{codex_home}/session_index.jsonl" (links followed, no snapshot
// checks). Each line that is an object with string members "id" and
// "thread_name" puts the name under the id; the last line for an id wins.
// Names are kept exactly as stored (not trimmed, not redacted). Never fails:
// a missing or unreadable index gives an empty table, an unparsable or
// ill-shaped line is skipped, and a line that is not valid UTF-8 ends the
// reading with the lines before it kept.
TitleTable read_session_index(const std::filesystem::path& codex_home);

}  // namespace lorebox
