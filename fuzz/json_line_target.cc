// Differential target for the JSON module: json::LineParser and the
// compact writer against nlohmann-json, whose semantics the readers follow.
// Where nlohmann-json accepts a line nested at most kMaxDepth levels deep,
// the line parser must accept it, compact() must equal dump(), and the
// accessors must agree with nlohmann's view of every top-level member;
// where nlohmann-json refuses it, or it is nested deeper, the line parser
// must refuse it too.
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "fuzz_check.h"
#include "fuzz_targets.h"
#include "json/compact.h"
#include "json/line_parser.h"
#include "json/value.h"
#include "line_model.h"

namespace lorebox::fuzz {

namespace {

// The accessors on one member value, against nlohmann's value.
void check_accessors(json::Element ours, const nlohmann::json& theirs) {
  const std::optional<std::string_view> text = json::as_string(ours);
  expect(text.has_value() == theirs.is_string() &&
             (!text || *text == theirs.get_ref<const std::string&>()),
         "as_string disagrees with nlohmann-json");
  expect(json::is_true(ours) == (theirs.is_boolean() && theirs.get<bool>()),
         "is_true disagrees with nlohmann-json");

  std::optional<uint64_t> expected_integer;
  if (theirs.is_number_unsigned()) {
    expected_integer = theirs.get<uint64_t>();
  } else if (theirs.is_number_integer() && theirs.get<int64_t>() >= 0) {
    expected_integer = static_cast<uint64_t>(theirs.get<int64_t>());
  }
  expect(json::non_negative_integer(ours) == expected_integer,
         "non_negative_integer disagrees with nlohmann-json");

  const std::optional<double> number = json::as_number(ours);
  expect(number.has_value() == theirs.is_number(),
         "as_number disagrees on what is a number");
  if (number && theirs.is_number())
    expect(*number == theirs.get<double>(), "as_number disagrees with nlohmann-json");
}

}  // namespace

int fuzz_json_line(const uint8_t* data, size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  static json::LineParser parser;  // reused across lines, as the readers do
  const std::optional<json::Element> ours = parser.parse(line);

  nlohmann::json theirs;
  std::string dump;
  try {
    theirs = nlohmann::json::parse(line.begin(), line.end(), nullptr,
                                   /*allow_exceptions=*/false);
    if (!theirs.is_discarded() && nesting_depth(line) <= json::kMaxDepth)
      dump = theirs.dump();
  } catch (const std::exception&) {
    return 0;  // nlohmann-json cannot write what it read; nothing to compare
  }

  // nlohmann-json takes a NUL byte for the end of the text; no JSON text
  // holds a raw NUL.
  if (line.find('\0') != std::string_view::npos) {
    expect(!ours, "the line parser accepts a line holding a raw NUL byte");
    return 0;
  }
  if (theirs.is_discarded()) {
    expect(!ours, "the line parser accepts a line nlohmann-json refuses");
    return 0;
  }
  if (nesting_depth(line) > json::kMaxDepth) {
    expect(!ours, "the line parser accepts a line nested too deeply");
    return 0;
  }
  if (!expect(ours.has_value(), "the line parser refuses a line nlohmann-json accepts"))
    return 0;

  const std::string compact = json::compact(*ours);
  expect(compact == dump, "compact() differs from nlohmann-json's dump()");
  expect(json::compact_size(*ours) == compact.size(),
         "compact_size() differs from the length of compact()");
  if (theirs.is_object()) {
    for (const auto& [key, value] : theirs.items()) {
      const std::optional<json::Element> member = json::member(*ours, key);
      if (!expect(member.has_value(), "member() misses a member")) break;
      expect(json::compact(*member) == value.dump(), "member() gives another value");
      check_accessors(*member, value);
    }
  }
  return 0;
}

}  // namespace lorebox::fuzz
