#include "fuzz_targets.h"

#include <array>

namespace lorebox::fuzz {

std::span<const FuzzTarget> all_fuzz_targets() {
  static constexpr std::array<FuzzTarget, 11> kTargets = {{
      {"claude_reader", fuzz_claude_reader},
      {"codex_reader", fuzz_codex_reader},
      {"session_index", fuzz_session_index},
      {"history", fuzz_history},
      {"timestamp", fuzz_timestamp},
      {"redact", fuzz_redact},
      {"codex_prompt", fuzz_codex_prompt},
      {"claude_markup", fuzz_claude_markup},
      {"record_command", fuzz_record_command},
      {"display_title", fuzz_display_title},
      {"json_line", fuzz_json_line},
  }};
  return kTargets;
}

}  // namespace lorebox::fuzz
