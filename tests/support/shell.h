// Building shell commands in tests from paths that may hold any character
// (a temporary folder with a space in its name, for one).
#pragma once

#include <string>
#include <string_view>

namespace lorebox::testing {

// `word` as one word of a POSIX shell command: in single quotes, with each
// single quote inside written as '\''.
std::string shell_quoted(std::string_view word);

}  // namespace lorebox::testing
