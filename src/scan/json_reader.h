// The one place that parses input JSON. Lines are parsed with simdjson's
// DOM parser (falling back to nlohmann-json for the rare line simdjson
// refuses, such as integers beyond 64 bits); readers then see generic JSON
// values with these rules:
//   - a member that appears twice in an object: the last one counts;
//   - an integer that fits in 64 bits is an integer, anything else a float;
//   - a line nested more than 128 levels deep is ignored;
//   - the compact JSON of a value is exactly what nlohmann-json's dump()
//     writes for it (members in ascending byte order, its escaping and its
//     number forms).
// Iterating an object with simdjson directly shows duplicate members; use
// member() to look one up.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <simdjson.h>

namespace lorebox::json {

using Element = simdjson::dom::element;

// Deepest nesting of arrays and objects accepted on a line.
inline constexpr size_t kMaxDepth = 128;

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

  // As parse, without the copy: the simdjson::SIMDJSON_PADDING bytes after
  // the view must be readable (LineReader guarantees it for its lines).
  std::optional<Element> parse_padded(std::string_view line);

 private:
  std::optional<Element> parse_text(std::string_view line, bool padded);
  std::optional<Element> parse_fallback(std::string_view line);
  bool limit_depth(size_t depth);
  void fit_capacity(size_t size);

  simdjson::dom::parser parser_;
  std::string fallback_;  // re-serialised text of a line nlohmann accepted
};

// The value of member `key` (the last occurrence), or nothing when the
// value is not an object or has no such member.
std::optional<Element> member(Element object, std::string_view key);
// The last value of each of a fixed list of members, all found in one pass
// over an object. For an object consulted many times (the top level of a
// transcript line), this replaces a scan of every member per lookup.
class MemberTable {
 public:
  // At most kMaxKeys distinct names of at most 31 bytes; `keys` must outlive
  // the table.
  explicit MemberTable(std::span<const std::string_view> keys);

  static constexpr size_t kMaxKeys = 16;

  // Reads the members of `value`. False, with every entry empty, when it is
  // not an object.
  bool read(Element value);
  // Empties every entry.
  void clear();

  // The value of the last member named keys[index], as member() would
  // give it, or nothing.
  std::optional<Element> get(size_t index) const {
    if (!found_[index]) return std::nullopt;
    return values_[index];
  }
  // That value when it is a string.
  std::optional<std::string_view> get_string(size_t index) const;

 private:
  static constexpr size_t kMaxLength = 31;  // longer names are not looked for

  std::span<const std::string_view> keys_;
  uint16_t by_length_[kMaxLength + 1] = {};  // bit i: keys_[i] has this length
  Element values_[kMaxKeys];
  bool found_[kMaxKeys] = {};
};

// The member's value when it is a string.
std::optional<std::string_view> string_member(Element object,
                                              std::string_view key);
// The value when it is a string.
std::optional<std::string_view> as_string(Element value);
// True only for the JSON literal true.
bool is_true(Element value);
// The value when it is a JSON integer >= 0.
std::optional<uint64_t> non_negative_integer(Element value);
// Any JSON number as a double.
std::optional<double> as_number(Element value);

// Appends the compact JSON text of the value (nlohmann dump() bytes).
void append_compact(Element value, std::string* out);
// The compact JSON text of the value.
std::string compact(Element value);
// Byte length of the compact JSON text, computed without building it.
uint64_t compact_size(Element value);

}  // namespace lorebox::json
