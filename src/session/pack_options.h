// PackOptions: the reading options of one run, derived once from the command
// line and read by the readers, history recovery and the manifest.
#pragma once

#include <cstdint>
#include <optional>

namespace lorebox {

struct PackOptions {
  // Longest message kept, in Unicode scalar values; absent means no limit.
  std::optional<uint64_t> max_message_chars;
  // Sessions last active before this instant (epoch seconds) are dropped.
  std::optional<double> since;
  // Only transcripts modified strictly before this instant are read; its
  // presence also makes the file snapshot checks strict.
  std::optional<double> modified_before;
  bool include_subagents = false;
  bool include_assistant = true;
  bool redact = true;
  bool include_history = true;
  bool include_usage = true;
};

}  // namespace lorebox
