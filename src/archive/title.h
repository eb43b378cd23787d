// The display title of a session, shared by conversations.json, the
// manifest and the listing.
#pragma once

#include <string>

#include "session/session.h"

namespace lorebox {

// The stored title trimmed when it is not blank; else the first non-blank
// line of the first prompt, cut to 72 characters, with "…" when the prompt
// is longer; else "Claude Code session" / "Codex session".
std::string display_title(const Session& session);

}  // namespace lorebox
