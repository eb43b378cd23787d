// Tool and token accounting: fills a SessionEfficiency from the tool calls
// and shell commands the readers meet.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "json/value.h"
#include "session/session.h"

namespace lorebox {

// 64-bit SipHash-1-3 with both keys zero.
uint64_t siphash13(std::string_view bytes);

// The fingerprint of a tool call: SipHash-1-3 over name, 0xFF, input, 0xFF.
uint64_t call_fingerprint(std::string_view name, std::string_view input);

// Accounts one tool call: counts it per name, marks repeats within the
// current file (polling tools excepted) and whole-file reads. `input` is the
// compact JSON text of the call's input, empty when it has none.
void record_tool_call(SessionEfficiency& record, std::string_view name,
                      std::string_view input);

// The same for a call given its parsed input (none when it has none): the
// fingerprint is taken from the parsed value (json::compact_fingerprint),
// equal for two calls exactly when their names and input texts are, and
// the text is built only for "Read" calls. The calls of one file must all
// be recorded through the same one of the two.
void record_tool_call(SessionEfficiency& record, std::string_view name,
                      std::optional<json::Element> input);

// Reduces a shell command line to a short label ("git status", "npm test",
// "cd", "run.sh") and counts it; records nothing for a command without a
// usable program word. Leading environment assignments ("FOO=1",
// "URL=\"a b\"") are passed over. With `redact`, the label is masked by
// redact_secrets before it is counted.
void record_command(SessionEfficiency& record, std::string_view command, bool redact);

// Adds a transcript file's record into its session's record. Fingerprints
// are not carried over.
void merge_into(SessionEfficiency& session, const SessionEfficiency& file);

// Top list of a count table: count descending, then name in byte order, at
// most 8 entries.
std::vector<std::pair<std::string, uint64_t>> top_counts(
    const std::map<std::string, uint64_t>& counts);

}  // namespace lorebox
