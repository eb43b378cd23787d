// Parsing of input lines and the accessors readers use on parsed values.
//
// simdjson parses almost every line. It refuses a few texts that
// nlohmann-json, whose semantics the readers follow, accepts:
//   - a leading UTF-8 byte order mark, which nlohmann skips: removed here
//     before parsing;
//   - integers beyond 64 bits, which nlohmann reads as floats: simdjson
//     reports a number error, and only then the line goes to nlohmann, is
//     written back with dump() (big integers become floats, duplicate
//     members collapse to the last) and that text is parsed by simdjson,
//     so readers always see a simdjson element.
// simdjson's depth limit N admits N levels of arrays and objects only when
// the innermost one is empty, and N - 1 otherwise. So lines are parsed with
// N = 128; a line refused for depth has its levels counted and, when there
// are no more than 128, is parsed again with N = 129. The fallback path
// counts the levels itself before calling nlohmann, which has no limit.
#include "json/line_parser.h"

#include <algorithm>
#include <cstring>

#include <nlohmann/json.hpp>

#include "json/access.h"

namespace lorebox::json {
namespace {

// Enough for ordinary lines; longer ones grow the parser.
constexpr size_t kInitialCapacity = 64 * 1024;
// Past this the parser's buffers (several bytes per input byte) are
// released again once lines are short, so one huge line does not pin them.
constexpr size_t kKeepCapacity = 16 * 1024 * 1024;
// Growth doubles the capacity up to this size, then grows to fit.
constexpr size_t kDoubleUpTo = 64 * 1024 * 1024;

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// True when arrays and objects nest more than `limit` levels somewhere in
// the text. Brackets inside strings do not count.
bool nested_deeper_than(std::string_view text, size_t limit) {
  size_t depth = 0;
  bool in_string = false;
  bool escaped = false;
  for (char c : text) {
    if (in_string) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    switch (c) {
      case '"':
        in_string = true;
        break;
      case '[':
      case '{':
        if (++depth > limit) return true;
        break;
      case ']':
      case '}':
        if (depth > 0) --depth;
        break;
      default:
        break;
    }
  }
  return false;
}

}  // namespace

LineParser::LineParser() { fit_capacity(kInitialCapacity); }

std::optional<Element> LineParser::parse(std::string_view line) {
  return parse_text(line, /*padded=*/false);
}

std::optional<Element> LineParser::parse_padded(std::string_view line) {
  return parse_text(line, /*padded=*/true);
}

void LineParser::fit_capacity(size_t size) {
  size_t capacity = parser_.capacity();
  bool grow = capacity < size || capacity == 0;
  bool shrink = capacity > kKeepCapacity && size < capacity / 8;
  if (!grow && !shrink) return;
  size_t wanted = std::max(size, kInitialCapacity);
  if (grow && size <= kDoubleUpTo) wanted = std::max(wanted, 2 * capacity);
  if (shrink) parser_ = simdjson::dom::parser();
  // On failure the parser keeps a smaller capacity or none, and parse_text
  // refuses the line.
  if (parser_.allocate(wanted, kMaxDepth) != simdjson::SUCCESS) return;
  // A document that cannot be allocated here is allocated to fit by parse.
  simdjson::error_code ignored = parser_.doc.allocate(wanted);
  (void)ignored;
}

bool LineParser::limit_depth(size_t depth) {
  if (parser_.capacity() > 0 && parser_.max_depth() == depth) return true;
  return parser_.allocate(std::max(parser_.capacity(), kInitialCapacity), depth) ==
         simdjson::SUCCESS;
}

std::optional<Element> LineParser::parse_text(std::string_view line, bool padded) {
  if (line.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    line.remove_prefix(kByteOrderMark.size());
  }
  fit_capacity(line.size());
  if (!limit_depth(kMaxDepth) || parser_.capacity() < line.size()) {
    return std::nullopt;
  }
  simdjson::dom::element value;
  simdjson::error_code error =
      parser_.parse(line.data(), line.size(), !padded).get(value);
  if (error == simdjson::DEPTH_ERROR) {
    // simdjson also refuses exactly kMaxDepth levels when the innermost
    // array or object is not empty; count the levels and retry those.
    if (nested_deeper_than(line, kMaxDepth) || !limit_depth(kMaxDepth + 1)) {
      return std::nullopt;
    }
    error = parser_.parse(line.data(), line.size(), !padded).get(value);
  }
  if (error == simdjson::SUCCESS) {
    // simdjson stops reading a number that stands alone on a line at a NUL
    // byte, so "1\0" would pass; a NUL is never valid outside a string, and
    // inside one it is refused, so a scalar line holding one is invalid.
    if (!value.is_object() && !value.is_array() &&
        std::memchr(line.data(), '\0', line.size()) != nullptr) {
      return std::nullopt;
    }
    return Access::wrap(value);
  }
  if (error == simdjson::NUMBER_ERROR || error == simdjson::NUMBER_OUT_OF_RANGE) {
    return parse_fallback(line);
  }
  return std::nullopt;
}

std::optional<Element> LineParser::parse_fallback(std::string_view line) {
  // nlohmann-json takes a NUL byte for the end of the text and would accept
  // "1\0"; a NUL is never valid in a JSON line, so such a line is refused.
  if (std::memchr(line.data(), '\0', line.size()) != nullptr) return std::nullopt;
  if (nested_deeper_than(line, kMaxDepth)) return std::nullopt;
  try {
    nlohmann::json value = nlohmann::json::parse(line.begin(), line.end(), nullptr,
                                                 /*allow_exceptions=*/false);
    if (value.is_discarded()) return std::nullopt;
    fallback_ = value.dump();
  } catch (...) {
    // Out of memory or a dump error: the line is ignored like any bad line.
    return std::nullopt;
  }
  // The text nests exactly as the line, which was counted above.
  fit_capacity(fallback_.size());
  if (!limit_depth(kMaxDepth + 1) || parser_.capacity() < fallback_.size()) {
    return std::nullopt;
  }
  simdjson::dom::element value;
  if (parser_.parse(fallback_.data(), fallback_.size(), true).get(value) !=
      simdjson::SUCCESS) {
    return std::nullopt;
  }
  return Access::wrap(value);
}

}  // namespace lorebox::json
