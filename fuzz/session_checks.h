// Invariants of what the readers hand back, shared by the reader targets.
#pragma once

#include <string_view>

#include "session/file_stamp.h"
#include "session/pack_options.h"
#include "session/session.h"

namespace lorebox::fuzz {

// The options a reader target runs an input under, chosen by the input so
// that every input is read once (the readers allocate per file, which is
// slow under AddressSanitizer): the defaults; a strict run with subagents,
// without assistant replies and with a limit below 40; or a run without
// redaction or accounting.
PackOptions reader_options(std::string_view input);

// Every message of the session passes expect_message_text under the
// options, is in timestamp order, and has a finite timestamp; created_at is
// the first message's; only assistant replies carry a model, and none
// without include_assistant; id, title and project are valid UTF-8 and the
// id carries the source's prefix; accounting is empty without
// include_usage and consistent with itself otherwise.
void expect_session(const Session& session, SourceKind source,
                    const PackOptions& options);

// The result of reading one transcript file: at most one session, which
// passes expect_session, and exactly one stamp for it; nothing skipped.
void expect_single_file_scan(const SourceScan& scan, SourceKind source,
                             const PackOptions& options);

}  // namespace lorebox::fuzz
