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
#include <cstring>
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

// Appends the members of `fields` to *scratch in ascending byte order of
// their keys, keeping only the last of equal keys (the one the text
// shows); returns the index of the first.
size_t push_sorted_members(simdjson::dom::object fields, std::vector<Field>* scratch) {
  size_t begin = scratch->size();
  size_t order = 0;
  for (auto it = fields.begin(); it != fields.end(); ++it) {
    scratch->push_back(Field{it.key(), it.value(), order++});
  }
  auto first = scratch->begin() + begin;
  std::sort(first, scratch->end(), [](const Field& a, const Field& b) {
    return a.key != b.key ? a.key < b.key : a.order < b.order;
  });
  // Of a run of equal keys, keep the last (the one written last).
  size_t kept = begin;
  for (size_t i = begin; i < scratch->size(); ++i) {
    if (i + 1 < scratch->size() && (*scratch)[i + 1].key == (*scratch)[i].key) continue;
    (*scratch)[kept++] = (*scratch)[i];
  }
  scratch->resize(kept);
  return begin;
}

// nlohmann-json's own float form ("1e+20", "-0.0", "0.0001"); floats in
// input values are rare, so the temporary value costs nothing that
// matters.
std::string float_text(double number) { return nlohmann::json(number).dump(); }

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
    put(float_text(number));
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
    size_t begin = push_sorted_members(fields, &scratch_);
    size_t end = scratch_.size();
    put("{");
    for (size_t i = begin; i < end; ++i) {
      if (i > begin) put(",");
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

// A 64-bit hash fed a sequence of words and byte strings; each step
// multiplies the state with the input into 128 bits and folds the halves
// together (the mixing step of wyhash and rapidhash), 16 bytes of a string
// at a time. Not for adversaries: a crafted input can collide on purpose,
// which here only miscounts that input's own repeats.
class Hasher {
 public:
  void add(uint64_t word) { state_ = mix(word ^ kSecret[0], state_ ^ kSecret[1]); }

  // A string, preceded by a word with its length and `tag`, so the strings
  // of a sequence never run together.
  void add_bytes(uint64_t tag, std::string_view bytes) {
    add(bytes.size() << 4 | tag);
    const char* p = bytes.data();
    size_t n = bytes.size();
    uint64_t state = state_;
    for (; n >= 16; p += 16, n -= 16)
      state = mix(load(p) ^ kSecret[2], load(p + 8) ^ state);
    if (n > 0) {
      uint64_t low = 0;
      uint64_t high = 0;
      std::memcpy(&low, p, std::min<size_t>(n, 8));
      if (n > 8) std::memcpy(&high, p + 8, n - 8);
      state = mix(low ^ kSecret[2], high ^ state);
    }
    state_ = state;
  }

  uint64_t finish() const { return mix(state_ ^ kSecret[3], kSecret[4]); }

 private:
  // GCC and Clang have 128-bit integers on every 64-bit target.
  __extension__ typedef unsigned __int128 Wide;

  static uint64_t mix(uint64_t a, uint64_t b) {
    const Wide product = static_cast<Wide>(a) * b;
    return static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
  }

  // Native byte order: fingerprints are compared within one process only.
  static uint64_t load(const char* p) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
  }

  static constexpr uint64_t kSecret[5] = {0x2d358dccaa6c78a5, 0x8bb84b93962eacc9,
                                          0x4b33a62ed433d4a3, 0x4d5a2da51de1aa47,
                                          0xa0761d6478bd642f};
  uint64_t state_ = 0x243f6a8885a308d3;
};

// The walk of CompactWriter, feeding a Hasher what decides the text rather
// than the text itself: each value starts with a word naming its kind
// (strings and keys carry their length in it), strings go in unescaped
// (escaping is one-to-one), integers as their 64 bits (an integer of
// either simdjson kind with the same value gives the same word, as it
// gives the same digits), floats as the text nlohmann-json writes for
// them, and objects with the members the text shows, in its order.
class Fingerprinter {
 public:
  enum Kind : uint64_t {
    kNull = 1,
    kFalse,
    kTrue,
    kInteger,
    kLargeInteger,  // an unsigned integer above INT64_MAX
    kFloat,
    kString,
    kKey,
    kArray,
    kObject,
    kEnd,     // closes an array or object
    kAbsent,  // no value at all (the empty text)
    kPrefix,
  };

  Hasher& hasher() { return hasher_; }

  void write(simdjson::dom::element value) {
    using Type = simdjson::dom::element_type;
    switch (value.type()) {
      case Type::OBJECT: {
        size_t begin = push_sorted_members(value.get_object().value_unsafe(), &scratch_);
        size_t end = scratch_.size();
        hasher_.add(kObject);
        for (size_t i = begin; i < end; ++i) {
          hasher_.add_bytes(kKey, scratch_[i].key);
          write(scratch_[i].value);
        }
        hasher_.add(kEnd);
        scratch_.resize(begin);
        break;
      }
      case Type::ARRAY: {
        simdjson::dom::array items = value.get_array().value_unsafe();
        hasher_.add(kArray);
        for (simdjson::dom::element item : items) write(item);
        hasher_.add(kEnd);
        break;
      }
      case Type::STRING:
        hasher_.add_bytes(kString, value.get_string().value_unsafe());
        break;
      case Type::INT64:
        hasher_.add(kInteger);
        hasher_.add(static_cast<uint64_t>(value.get_int64().value_unsafe()));
        break;
      case Type::UINT64: {
        const uint64_t number = value.get_uint64().value_unsafe();
        hasher_.add(number <= uint64_t{INT64_MAX} ? kInteger : kLargeInteger);
        hasher_.add(number);
        break;
      }
      case Type::DOUBLE: {
        const double number = value.get_double().value_unsafe();
        if (std::isfinite(number)) {
          hasher_.add_bytes(kFloat, float_text(number));
        } else {
          hasher_.add(kNull);  // written as null
        }
        break;
      }
      case Type::BOOL:
        hasher_.add(value.get_bool().value_unsafe() ? kTrue : kFalse);
        break;
      case Type::NULL_VALUE:
        hasher_.add(kNull);
        break;
    }
  }

 private:
  Hasher hasher_;
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

uint64_t compact_fingerprint(std::string_view prefix, std::optional<Element> value) {
  Fingerprinter fingerprinter;
  fingerprinter.hasher().add_bytes(Fingerprinter::kPrefix, prefix);
  if (value) {
    fingerprinter.write(Access::raw(*value));
  } else {
    fingerprinter.hasher().add(Fingerprinter::kAbsent);
  }
  return fingerprinter.hasher().finish();
}

}  // namespace lorebox::json
