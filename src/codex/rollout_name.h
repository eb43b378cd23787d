// The session id a rollout file's name gives when its contents name none.
#pragma once

#include <string>
#include <string_view>

namespace lorebox {

// The file name without its last extension (the text after the last "."; a
// name whose only "." is its first character has none). A compressed
// "….jsonl.zst" name loses ".jsonl.zst", so it gives the same id as the
// plain file it replaced. Empty when the result is not valid UTF-8.
std::string rollout_name_id(std::string_view file_name);

}  // namespace lorebox
