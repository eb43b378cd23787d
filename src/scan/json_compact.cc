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
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

#include <nlohmann/json.hpp>

#include "scan/json_reader.h"

namespace lorebox::json {
namespace {

// Extra bytes the escaped form of each byte needs.
constexpr std::array<uint8_t, 256> make_escape_extra() {
  std::array<uint8_t, 256> extra{};
  for (int c = 0; c < 0x20; ++c) extra[c] = 5;  // \u00xx
  for (unsigned char c : {'\b', '\t', '\n', '\f', '\r', '"', '\\'}) extra[c] = 1;
  return extra;
}
constexpr std::array<uint8_t, 256> kEscapeExtra = make_escape_extra();

// True when none of the eight bytes of `word` needs escaping: none is below
// 0x20, a quotation mark or a backslash.
bool plain_word(uint64_t word) {
  constexpr uint64_t kOnes = 0x0101010101010101ULL;
  constexpr uint64_t kHighs = 0x8080808080808080ULL;
  uint64_t below_space = (word - kOnes * 0x20) & ~word;
  uint64_t quote = word ^ (kOnes * '"');
  uint64_t backslash = word ^ (kOnes * '\\');
  uint64_t has_quote = (quote - kOnes) & ~quote;
  uint64_t has_backslash = (backslash - kOnes) & ~backslash;
  return ((below_space | has_quote | has_backslash) & kHighs) == 0;
}

// Length of the leading run of bytes that are written as they are.
size_t plain_prefix(std::string_view text) {
  size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, text.data() + i, 8);
    if (!plain_word(word)) break;
  }
  while (i < text.size() && kEscapeExtra[static_cast<unsigned char>(text[i])] == 0) {
    ++i;
  }
  return i;
}

// On x86-64 Linux builds the counting loop below is also compiled for AVX2
// and picked at load time when the processor has it (GCC function
// multiversioning); elsewhere it is compiled once for the baseline. Not
// under ThreadSanitizer, whose instrumented load-time resolver would run
// before the sanitizer's runtime is ready.
#if defined(__x86_64__) && defined(__ELF__) && defined(__GNUC__) && !defined(__clang__) && \
    !defined(__SANITIZE_THREAD__)
#define LOREBOX_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define LOREBOX_VECTOR_CLONES
#endif

// Extra bytes the escapes of `text` need. The bytes are classified 32 at a
// time with vector compares; each lane of the counters takes at most 255
// blocks before it is added up.
LOREBOX_VECTOR_CLONES
uint64_t escape_extra(std::string_view text) {
  typedef uint8_t Bytes __attribute__((vector_size(32)));
  constexpr size_t kWidth = sizeof(Bytes);
  constexpr size_t kBlocksPerCount = 255;
  uint64_t extra = 0;
  size_t i = 0;
  while (text.size() - i >= kWidth) {
    Bytes quotes = {};    // '"' and '\\': one extra byte
    Bytes controls = {};  // below 0x20: five extra bytes (\u00xx) ...
    Bytes shorts = {};    // ... except \b \t \n \f \r, one extra byte
    size_t blocks = std::min((text.size() - i) / kWidth, kBlocksPerCount);
    for (size_t b = 0; b < blocks; ++b, i += kWidth) {
      Bytes v;
      std::memcpy(&v, text.data() + i, kWidth);
      quotes -= (Bytes)((v == '"') | (v == '\\'));
      controls -= (Bytes)(v < 0x20);
      shorts -= (Bytes)(((Bytes)(v - 8) < 6) & (v != 11));
    }
    for (size_t lane = 0; lane < kWidth; ++lane) {
      extra += quotes[lane] + 5u * controls[lane] - 4u * shorts[lane];
    }
  }
  for (; i < text.size(); ++i) extra += kEscapeExtra[static_cast<unsigned char>(text[i])];
  return extra;
}

// Writes the escaped form of `text`, which needs `extra` more bytes than
// the text, into the `text.size() + extra` bytes at `out`.
void write_escaped(std::string_view text, char* out) {
  static constexpr char kHex[] = "0123456789abcdef";
  while (!text.empty()) {
    size_t run = plain_prefix(text);
    std::memcpy(out, text.data(), run);
    out += run;
    text.remove_prefix(run);
    if (text.empty()) break;
    unsigned char c = static_cast<unsigned char>(text.front());
    text.remove_prefix(1);
    char escaped = 0;
    switch (c) {
      case '"': escaped = '"'; break;
      case '\\': escaped = '\\'; break;
      case '\b': escaped = 'b'; break;
      case '\f': escaped = 'f'; break;
      case '\n': escaped = 'n'; break;
      case '\r': escaped = 'r'; break;
      case '\t': escaped = 't'; break;
      default: {
        const char unicode[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
        std::memcpy(out, unicode, sizeof unicode);
        out += sizeof unicode;
        continue;
      }
    }
    out[0] = '\\';
    out[1] = escaped;
    out += 2;
  }
}

// Appends the escaped form of `text`: counted first, so the output grows
// once and a text without escapes is one copy.
void append_escaped(std::string_view text, std::string* out) {
  const uint64_t extra = escape_extra(text);
  if (extra == 0) {
    out->append(text);
    return;
  }
  const size_t at = out->size();
  out->resize(at + text.size() + extra);
  write_escaped(text, out->data() + at);
}

struct Field {
  std::string_view key;
  Element value;
  size_t order;  // position in the object, so the last duplicate wins
};

// One walk over a value: appends to `out` when it is set, and counts the
// bytes either way.
class CompactWriter {
 public:
  explicit CompactWriter(std::string* out) : out_(out) {}

  uint64_t size() const { return size_; }

  void write(Element value) {
    using Type = simdjson::dom::element_type;
    switch (value.type()) {
      case Type::OBJECT: write_object(value.get_object().value_unsafe()); break;
      case Type::ARRAY: write_array(value.get_array().value_unsafe()); break;
      case Type::STRING: write_string(value.get_string().value_unsafe()); break;
      case Type::INT64: write_integer(value.get_int64().value_unsafe()); break;
      case Type::UINT64: write_integer(value.get_uint64().value_unsafe()); break;
      case Type::DOUBLE: write_float(value.get_double().value_unsafe()); break;
      case Type::BOOL: put(value.get_bool().value_unsafe() ? "true" : "false"); break;
      case Type::NULL_VALUE: put("null"); break;
    }
  }

 private:
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
    char digits[64];
    char* end = nlohmann::detail::to_chars(digits, digits + sizeof digits, number);
    put(std::string_view(digits, end - digits));
  }

  void write_array(simdjson::dom::array items) {
    put("[");
    bool first = true;
    for (Element item : items) {
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
