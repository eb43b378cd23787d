#include "codex/rollout_name.h"

#include "scan/transcript_name.h"
#include "text/utf8.h"

namespace lorebox {

std::string rollout_name_id(std::string_view file_name) {
  // Unlike a Claude Code name, one that is not valid UTF-8 gives no id.
  const std::string_view name = transcript_stem(file_name);
  if (!is_valid_utf8(name)) return std::string();
  return std::string(name);
}

}  // namespace lorebox
