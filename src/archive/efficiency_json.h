// efficiency.json: the token and tool accounting of the packed sessions.
#pragma once

#include <vector>

#include "archive/sink.h"
#include "session/result.h"
#include "session/session.h"

namespace lorebox {

// True when the session has accounting worth an entry: its turns,
// tool_calls or cache_read is not zero.
bool has_accounting(const Session& session);

// True when at least one session has accounting, i.e. when the archive
// gets an efficiency.json entry at all.
bool any_accounting(const std::vector<Session>& sessions);

// Writes {"format":"lorebox-efficiency/1","sessions":[...]} compactly, one
// entry per session with accounting in list order, every object's members
// in byte order of their names. Returns the sink's first failure.
Result<void> write_efficiency(Sink& sink, const std::vector<Session>& sessions);

}  // namespace lorebox
