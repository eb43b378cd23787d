// The session id a rollout file's name gives when its contents name none.
#pragma once

#include <string>
#include <string_view>

namespace lorebox {

// The file name without its extension, by the rule every transcript name
// follows (transcript_stem in scan/transcript_name.h), or empty when that is
// not valid UTF-8.
std::string rollout_name_id(std::string_view file_name);

}  // namespace lorebox
