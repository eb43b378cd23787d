// Compact JSON text of parsed values, byte for byte what nlohmann-json's
// dump() writes for the same value:
//   - object members in ascending byte order of their keys; a key that
//     appears twice keeps its last value (nlohmann's object is a map);
//   - strings escape '"', '\\', \b \f \n \r \t, other bytes below 0x20 as
//     \u00xx with lowercase hex digits, everything else raw;
//   - integers in decimal ("-0" was read as the integer 0, as nlohmann
//     reads it), floats through nlohmann's own to_chars, so the digits and
//     exponent form match ("1e+20", "-0.0", "0.0001"). Floats are always
//     finite: both parsers refuse a number that overflows, so the "null"
//     nlohmann writes for infinity never arises from input. No difference
//     from dump() is known.
// Sizes are counted by the same walk with no output string, so a
// multi-megabyte tool result is measured without being copied.
//
// The walk recurses once per nesting level; parsed values are at most
// kMaxDepth levels deep, so the stack stays small. Sorting uses one
// scratch vector shared by all levels of a walk.
#include "json/compact.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

#include <nlohmann/json.hpp>

#include "json/access.h"
#include "json/escape.h"

namespace lorebox::json {
namespace {

struct Field {
  std::string_view key;
  simdjson::dom::element value;
  size_t order;  // position in the object, so the last duplicate wins
};

// One walk over a value: appends to `out` when it is set, and counts the
// bytes either way.
class CompactWriter {
 public:
  explicit CompactWriter(std::string* out) : out_(out) {}

  uint64_t size() const { return size_; }

  void write(Element element) { write(Access::raw(element)); }

 private:
  void write(simdjson::dom::element value) {
    using Type = simdjson::dom::element_type;
    switch (value.type()) {
      case Type::OBJECT:
        write_object(value.get_object().value_unsafe());
        break;
      case Type::ARRAY:
        write_array(value.get_array().value_unsafe());
        break;
      case Type::STRING:
        write_string(value.get_string().value_unsafe());
        break;
      case Type::INT64:
        write_integer(value.get_int64().value_unsafe());
        break;
      case Type::UINT64:
        write_integer(value.get_uint64().value_unsafe());
        break;
      case Type::DOUBLE:
        write_float(value.get_double().value_unsafe());
        break;
      case Type::BOOL:
        put(value.get_bool().value_unsafe() ? "true" : "false");
        break;
      case Type::NULL_VALUE:
        put("null");
        break;
    }
  }

  void put(std::string_view text) {
    size_ += text.size();
    if (out_) out_->append(text);
  }

  void write_string(std::string_view text) {
    put("\"");
    if (out_) {
      size_t before = out_->size();
      append_escaped(text, out_);
      size_ += out_->size() - before;
    } else {
      size_ += text.size() + escape_extra(text);
    }
    put("\"");
  }

  template <typename Integer>
  void write_integer(Integer number) {
    char digits[24];
    auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    put(std::string_view(digits, end - digits));
  }

  void write_float(double number) {
    if (!std::isfinite(number)) {
      put("null");
      return;
    }
    // nlohmann-json's own float form; floats in input values are rare, so
    // the temporary value costs nothing that matters.
    put(nlohmann::json(number).dump());
  }

  void write_array(simdjson::dom::array items) {
    put("[");
    bool first = true;
    for (simdjson::dom::element item : items) {
      if (!first) put(",");
      first = false;
      write(item);
    }
    put("]");
  }

  void write_object(simdjson::dom::object fields) {
    // This level's members occupy scratch_[begin, end); deeper levels
    // push theirs after it and pop them before returning.
    size_t begin = scratch_.size();
    size_t order = 0;
    for (auto it = fields.begin(); it != fields.end(); ++it) {
      scratch_.push_back(Field{it.key(), it.value(), order++});
    }
    size_t end = scratch_.size();
    std::sort(scratch_.begin() + begin, scratch_.begin() + end,
              [](const Field& a, const Field& b) {
                return a.key != b.key ? a.key < b.key : a.order < b.order;
              });
    put("{");
    bool first = true;
    for (size_t i = begin; i < end; ++i) {
      // Of equal keys only the last in the object is written.
      if (i + 1 < end && scratch_[i + 1].key == scratch_[i].key) continue;
      if (!first) put(",");
      first = false;
      write_string(scratch_[i].key);
      put(":");
      write(scratch_[i].value);
    }
    put("}");
    scratch_.resize(begin);
  }

  std::string* out_;
  uint64_t size_ = 0;
  std::vector<Field> scratch_;
};

}  // namespace

void append_compact(Element value, std::string* out) {
  CompactWriter writer(out);
  writer.write(value);
}

std::string compact(Element value) {
  std::string out;
  append_compact(value, &out);
  return out;
}

uint64_t compact_size(Element value) {
  CompactWriter writer(nullptr);
  writer.write(value);
  return writer.size();
}

}  // namespace lorebox::json
