// A second, plain reading of JSON Lines input, built on nlohmann-json, that
// the file-reading targets compare the real readers with.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace lorebox::fuzz {

// The lines a JSON Lines reader yields for `bytes`: split at "\n", each
// losing one "\r" before its "\n"; a last line without "\n" counts as it is;
// the first line that is not valid UTF-8 ends the sequence.
std::vector<std::string_view> model_lines(std::string_view bytes);

// Deepest nesting of arrays and objects in a valid JSON text, counted from
// its brackets outside strings.
size_t nesting_depth(std::string_view text);

// The value of a line as the readers see it: nothing when nlohmann-json
// refuses the line, it nests more than the readers' limit, or it holds a
// NUL byte (which nlohmann-json takes for the end of the text).
std::optional<nlohmann::json> model_value(std::string_view line);

}  // namespace lorebox::fuzz
