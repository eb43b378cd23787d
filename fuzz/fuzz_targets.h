// The fuzz targets. Each takes one input and checks the invariants of the
// code it drives through expect() (fuzz_check.h); each returns 0, as
// libFuzzer requires. They are plain functions so that the regression
// replay test can run the same code without libFuzzer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace lorebox::fuzz {

// The input is a Claude Code transcript file; read_claude_sessions reads it
// under options the input chooses.
int fuzz_claude_reader(const uint8_t* data, size_t size);
// The input is a Codex rollout file; read_codex_sessions reads it.
int fuzz_codex_reader(const uint8_t* data, size_t size);
// The input is a Codex session index; compared with a model built on
// nlohmann-json.
int fuzz_session_index(const uint8_t* data, size_t size);
// The input is a prompt history, recovered as both agents' history.
int fuzz_history(const uint8_t* data, size_t size);
// The input is a timestamp text (and, as 8 bytes, an instant).
int fuzz_timestamp(const uint8_t* data, size_t size);
// The input is a message text for redact_secrets and finish_message.
int fuzz_redact(const uint8_t* data, size_t size);
// The input is a Codex user text for clean_codex_prompt.
int fuzz_codex_prompt(const uint8_t* data, size_t size);
// The input is a Claude Code user text for command_prompt and the noise test.
int fuzz_claude_markup(const uint8_t* data, size_t size);
// The input is a shell command line (and a tool call) for the accountant.
int fuzz_record_command(const uint8_t* data, size_t size);
// The input is split into a stored title and messages for display_title.
int fuzz_display_title(const uint8_t* data, size_t size);
// The input is one JSON line, parsed by json::LineParser and nlohmann-json.
int fuzz_json_line(const uint8_t* data, size_t size);

using FuzzFunction = int (*)(const uint8_t* data, size_t size);

// A target by the name of its corpus directory (fuzz/corpus/<name>).
struct FuzzTarget {
  std::string_view name;
  FuzzFunction function;
};

// Every target, in a fixed order.
std::span<const FuzzTarget> all_fuzz_targets();

}  // namespace lorebox::fuzz
