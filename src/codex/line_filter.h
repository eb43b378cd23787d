// A test on the raw text of a rollout line that lets the reader pass over,
// without parsing, the many lines it would ignore anyway (reasoning, command
// events, world state...).
#pragma once

#include <string_view>

namespace lorebox {

// False only when the line cannot change what the rollout reader keeps or
// counts: it names none of the record types the reader acts on ("session_meta",
// "turn_context", "compacted"; "response_item" with a message or a tool item;
// with usage on, "token_count"). Without a \u escape, a JSON string equal to
// one of those names appears in the text exactly, quotes included, so the
// test never drops a line that matters; a line with a \u escape always
// passes. True is no promise that the line parses.
bool may_affect_rollout(std::string_view line, bool include_usage);

}  // namespace lorebox
