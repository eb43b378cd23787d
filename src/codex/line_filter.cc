#include "codex/line_filter.h"

#include <string.h>

namespace lorebox {

namespace {

bool contains(std::string_view text, std::string_view word) {
  // glibc's memmem is much faster than a first-character scan here: every
  // word starts with a quotation mark, the commonest byte of a JSON line.
  return ::memmem(text.data(), text.size(), word.data(), word.size()) != nullptr;
}

}  // namespace

bool may_affect_rollout(std::string_view line, bool include_usage) {
  if (contains(line, "\\u")) return true;
  // The names are tested independently: a line of one type may well hold
  // another type's name as a member or a value.
  if (contains(line, "\"response_item\"") &&
      (contains(line, "\"message\"") ||
       (include_usage &&
        (contains(line, "\"function_call\"") || contains(line, "\"custom_tool_call\"") ||
         contains(line, "\"function_call_output\"") ||
         contains(line, "\"custom_tool_call_output\"")))))
    return true;
  if (include_usage && contains(line, "\"token_count\"")) return true;
  return contains(line, "\"session_meta\"") || contains(line, "\"turn_context\"") ||
         contains(line, "\"compacted\"");
}

}  // namespace lorebox
