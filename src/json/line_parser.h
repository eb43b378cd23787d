// The one place that parses input JSON. Lines are parsed with simdjson's
// DOM parser, falling back to nlohmann-json for the rare line simdjson
// refuses (such as integers beyond 64 bits), so that readers always see the
// values nlohmann-json would give (see value.h for the rules). A line
// nested more than kMaxDepth levels deep is ignored.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <simdjson.h>

#include "json/value.h"

namespace lorebox::json {

// Deepest nesting of arrays and objects accepted on a line.
inline constexpr size_t kMaxDepth = 128;

// Bytes past the end of a line that parse_padded may read; LineReader keeps
// this many readable bytes after every line it hands out.
inline constexpr size_t kPadding = simdjson::SIMDJSON_PADDING;

// Parses lines one at a time, reusing its buffers.
class LineParser {
 public:
  LineParser();
  LineParser(const LineParser&) = delete;
  LineParser& operator=(const LineParser&) = delete;

  // The value of a line that holds exactly one JSON value (white space
  // around it allowed, and a leading byte order mark), or nothing. The
  // element is valid until the next call. The line is copied first; use
  // parse_padded for lines that come from a LineReader.
  std::optional<Element> parse(std::string_view line);

  // As parse, without the copy: the kPadding bytes after the view must be
  // readable (LineReader guarantees it for its lines).
  std::optional<Element> parse_padded(std::string_view line);

 private:
  std::optional<Element> parse_text(std::string_view line, bool padded);
  std::optional<Element> parse_fallback(std::string_view line);
  bool limit_depth(size_t depth);
  void fit_capacity(size_t size);

  simdjson::dom::parser parser_;
  std::string fallback_;  // re-serialised text of a line nlohmann accepted
};

}  // namespace lorebox::json
