// Session documents of the first, TypeScript, Codex: it saved the whole
// conversation so far as one ".json" file directly in "sessions", at first
// under a new name at every save, so one conversation can be held by
// several files, each a prefix of the next.
#pragma once

#include "session/file_stamp.h"

namespace lorebox {

// True when a stamp names a session document (a ".json" file; rollouts
// never have that name).
bool is_document_source(const StampedSource& source);

// Drops, from a Codex scan whose sessions and sources pair up one to one,
// every document session whose (role, text) message list is a prefix of
// another document session's list, together with its source. Of two equal
// lists the one with the later created_at stays, then the one with the
// greater id in byte order, then the one with the greater path. Rollout
// sessions are neither dropped nor compared; the order of what stays is
// kept.
void drop_superseded_documents(SourceScan* scan);

}  // namespace lorebox
