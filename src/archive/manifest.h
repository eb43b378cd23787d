// lorebox.json: the manifest of what was packed, with which options.
#pragma once

#include <vector>

#include "archive/sink.h"
#include "session/pack_options.h"
#include "session/result.h"
#include "session/session.h"

namespace lorebox {

// Writes the manifest in the two-space pretty layout, without a final line
// feed: format, tool, tool_version, generated_at (the given instant), the
// options, the totals (earliest / latest left out when 0.0), one by_source
// entry per source with sessions (Claude Code first) and one entry per
// session in list order. Returns the sink's first failure.
Result<void> write_manifest(Sink& sink, const std::vector<Session>& sessions,
                            const PackOptions& options, double generated_at);

}  // namespace lorebox
