// The display title of a session, shared by conversations.json, the
// manifest and the listing.
#pragma once

#include <cstddef>
#include <string>

#include "session/session.h"

namespace lorebox {

// Longest title taken from a prompt, in characters (Unicode scalar values).
inline constexpr size_t kTitleChars = 72;

// The stored title trimmed when it is not blank (at any length); else the
// first non-blank line of the first user prompt, trimmed and cut to 72
// characters, followed by "…" when the whole prompt has more characters
// than were kept; else "Claude Code session" / "Codex session".
std::string display_title(const Session& session);

}  // namespace lorebox
