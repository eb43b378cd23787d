// Lines Claude Code copied from one session into another: a background
// handoff copies the whole conversation under a new session id, and a
// branch, a fork or an early resume copies lines the same way. Each copied
// line is kept in one session only.
#pragma once

#include <vector>

#include "session/copied_lines.h"
#include "session/file_stamp.h"
#include "session/session.h"

namespace lorebox {

// For every identity that occurs in several of the Claude Code sessions
// named in `shared`, its owner is the session with the least (marked,
// created_at in totalOrder, message count, id), where marked means one of
// that session's lines with the identity is marked as a copy. Every other
// session takes that line's accounting back (its tool counts, and its
// response's turn and tokens once all of the response's lines are gone)
// and drops its message when the owner holds a message with the same
// identity, role and text. A session left without messages is removed
// together with its stamps; the others get created_at from their first
// remaining message. Keys are taken before anything is dropped.
void settle_copied_lines(const std::vector<SessionLines>& shared,
                         std::vector<Session>* sessions,
                         std::vector<StampedSource>* sources);

}  // namespace lorebox
