// Invariants of what the readers hand back, shared by the reader targets.
#pragma once

#include <span>

#include "scan/file_stamp.h"
#include "session/pack_options.h"
#include "session/session.h"

namespace lorebox::fuzz {

// The option sets every reader target runs an input under: the defaults;
// a strict run with subagents, without assistant replies and with a short
// limit taken from `salt`; and a run without redaction or accounting.
std::span<const PackOptions> reader_option_sets(size_t salt);

// Every message of the session passes expect_message_text under the
// options, is in timestamp order, and has a finite timestamp; created_at is
// the first message's; only assistant replies carry a model, and none
// without include_assistant; id, title and project are valid UTF-8 and the
// id carries the source's prefix; accounting is empty without
// include_usage and consistent with itself otherwise.
void expect_session(const Session& session, SourceKind source, const PackOptions& options);

// The result of reading one transcript file: at most one session, which
// passes expect_session, and exactly one stamp for it; nothing skipped.
void expect_single_file_scan(const SourceScan& scan, SourceKind source,
                             const PackOptions& options);

}  // namespace lorebox::fuzz
