// The working directory stated in the environment block Codex puts before a
// thread's first prompt.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lorebox {

// The working directory an environment block (the raw text of a user
// message) states: the trimmed text of its "<cwd>" element, or else, in the
// plain-text form of the oldest rollouts, the trimmed rest of its first line
// that begins with "Current working directory:" (nothing when that rest is
// empty). Nothing when neither is there.
std::optional<std::string> environment_cwd(std::string_view block);

}  // namespace lorebox
