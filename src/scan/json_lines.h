// The lines of a JSON Lines file, parsed on request, with the UTF-8 of
// every line checked once.
#pragma once

#include <optional>
#include <string_view>

#include "json/line_parser.h"
#include "json/value.h"
#include "scan/line_reader.h"

namespace lorebox::json {

// Hands out the lines of a LineReader and parses the current one when asked.
// A line that parses needs no separate UTF-8 check: the parser has checked
// every byte. Any other line is checked when the next one is asked for, and
// when it is not valid UTF-8 the lines end there, as LineReader::next ends
// them. So the lines are those LineReader::next gives, except that the line
// that ends them may be handed out too; it never parses. Callers therefore
// let a line take effect only through a successful parse(): a line passed
// over unparsed must change nothing.
class JsonLines {
 public:
  // Both must outlive this object.
  JsonLines(LineReader& lines, LineParser& parser) : lines_(lines), parser_(parser) {}
  JsonLines(const JsonLines&) = delete;
  JsonLines& operator=(const JsonLines&) = delete;

  // Moves to the next line and stores it in *line (valid until the next
  // call). False at the end of the lines.
  bool next(std::string_view* line);

  // The value of the current line (valid until the next call to next() or
  // parse()), or nothing when it is not exactly one JSON value
  // (LineParser::parse_padded).
  std::optional<Element> parse();

 private:
  LineReader& lines_;
  LineParser& parser_;
  std::string_view line_;
  bool checked_ = true;  // the current line is known to be valid UTF-8
};

}  // namespace lorebox::json
