// The UTF-8 check is simply deferred: LineReader::next_unchecked hands out
// the line, and LineReader::confirm_utf8 checks it before the next one
// unless a successful parse has made the check pointless. The parser's first
// stage validates the UTF-8 of the whole input before anything else can
// succeed, including the number errors that send a line to the fallback
// parser and the depth errors that are retried, so "parsed" implies "valid".
#include "scan/json_lines.h"

namespace lorebox::json {

bool JsonLines::next(std::string_view* line) {
  if (!checked_ && !lines_.confirm_utf8()) return false;
  if (!lines_.next_unchecked(&line_)) return false;
  checked_ = false;
  *line = line_;
  return true;
}

std::optional<Element> JsonLines::parse() {
  std::optional<Element> value = parser_.parse_padded(line_);
  if (value) checked_ = true;
  return value;
}

}  // namespace lorebox::json
