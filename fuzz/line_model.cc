#include "line_model.h"

#include <algorithm>

#include "json/line_parser.h"
#include "json/value.h"
#include "text/utf8.h"

namespace lorebox::fuzz {

std::vector<std::string_view> model_lines(std::string_view bytes) {
  std::vector<std::string_view> lines;
  while (!bytes.empty()) {
    const size_t end = bytes.find('\n');
    std::string_view line = bytes.substr(0, end);
    if (end != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
    if (!is_valid_utf8(line)) break;
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    bytes.remove_prefix(end + 1);
  }
  return lines;
}

size_t nesting_depth(std::string_view text) {
  size_t depth = 0;
  size_t deepest = 0;
  bool in_string = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return deepest;
}

std::optional<nlohmann::json> model_value(std::string_view line) {
  // nlohmann-json stops reading at a NUL byte and accepts what came before
  // it; no JSON text holds a raw NUL, so such a line is not one value.
  if (line.find('\0') != std::string_view::npos) return std::nullopt;
  try {
    nlohmann::json value = nlohmann::json::parse(line.begin(), line.end(), nullptr,
                                                 /*allow_exceptions=*/false);
    if (value.is_discarded() || nesting_depth(line) > json::kMaxDepth)
      return std::nullopt;
    return value;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace lorebox::fuzz
