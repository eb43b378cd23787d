// Tool and command accounting.
//
// Repeats are found by a 64-bit fingerprint per distinct call (SipHash-1-3,
// keys zero, over name, 0xFF, input, 0xFF), so a file with thousands of
// large tool inputs keeps eight bytes per distinct call. The hash is fed in
// pieces by a small streaming hasher, so the pieces are never concatenated.
#include "efficiency/accountant.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <optional>
#include <span>

#include "json/compact.h"
#include "text/char_class.h"
#include "text/redact.h"
#include "text/utf8.h"

namespace lorebox {

namespace {

// SipHash with one compression round per block and three finalisation
// rounds, both keys zero, fed incrementally.
class SipHasher13 {
 public:
  void write(std::string_view bytes) {
    length_ += bytes.size();
    size_t pos = 0;
    if (tail_size_ > 0) {
      while (tail_size_ < 8 && pos < bytes.size())
        tail_ |= uint64_t{static_cast<unsigned char>(bytes[pos++])} << (8 * tail_size_++);
      if (tail_size_ < 8) return;
      compress(tail_);
      tail_ = 0;
      tail_size_ = 0;
    }
    for (; pos + 8 <= bytes.size(); pos += 8) compress(load_le(bytes.data() + pos));
    while (pos < bytes.size())
      tail_ |= uint64_t{static_cast<unsigned char>(bytes[pos++])} << (8 * tail_size_++);
  }

  void write_byte(unsigned char byte) {
    const char c = static_cast<char>(byte);
    write(std::string_view(&c, 1));
  }

  uint64_t finish() const {
    SipHasher13 copy = *this;
    const uint64_t last = (copy.length_ << 56) | copy.tail_;
    copy.compress(last);
    copy.v2_ ^= 0xFF;
    copy.round();
    copy.round();
    copy.round();
    return copy.v0_ ^ copy.v1_ ^ copy.v2_ ^ copy.v3_;
  }

 private:
  static uint64_t rotl(uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

  // Eight bytes as a little-endian number: one load on little-endian
  // machines (GCC does not merge the byte loop into one).
  static uint64_t load_le(const char* p) {
    if constexpr (std::endian::native == std::endian::little) {
      uint64_t value;
      std::memcpy(&value, p, sizeof value);
      return value;
    } else {
      uint64_t value = 0;
      for (int i = 7; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(p[i]);
      return value;
    }
  }

  void round() {
    v0_ += v1_;
    v1_ = rotl(v1_, 13);
    v1_ ^= v0_;
    v0_ = rotl(v0_, 32);
    v2_ += v3_;
    v3_ = rotl(v3_, 16);
    v3_ ^= v2_;
    v0_ += v3_;
    v3_ = rotl(v3_, 21);
    v3_ ^= v0_;
    v2_ += v1_;
    v1_ = rotl(v1_, 17);
    v1_ ^= v2_;
    v2_ = rotl(v2_, 32);
  }

  void compress(uint64_t block) {
    v3_ ^= block;
    round();
    v0_ ^= block;
  }

  // The initial state is the constant "somepseudorandomlygeneratedbytes"
  // xor-ed with the keys, which are zero here.
  uint64_t v0_ = 0x736f6d6570736575;
  uint64_t v1_ = 0x646f72616e646f6d;
  uint64_t v2_ = 0x6c7967656e657261;
  uint64_t v3_ = 0x7465646279746573;
  uint64_t tail_ = 0;    // bytes not yet compressed, little-endian
  int tail_size_ = 0;    // how many of them (0..7)
  uint64_t length_ = 0;  // total bytes written
};

// Tools that are called again and again by design; their repeats are not
// waste.
constexpr std::array<std::string_view, 6> kPollingTools = {
    "wait", "sleep", "Monitor", "wait_agent", "TaskOutput", "list_agents",
};

// Programs whose second word names what they do ("git status").
constexpr std::array<std::string_view, 11> kSubcommandPrograms = {
    "gh",   "git",   "npm",    "npx",     "pnpm",     "yarn",
    "brew", "cargo", "docker", "kubectl", "wrangler",
};

bool is_one_of(std::string_view word, std::span<const std::string_view> list) {
  return std::find(list.begin(), list.end(), word) != list.end();
}

// Byte length of the leading run of non-white-space characters.
size_t word_length(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t length = 0;
    if (is_white_space(decode_utf8(text, pos, &length))) break;
    pos += length;
  }
  return pos;
}

// True when every character is a letter, a digit or '-'.
bool is_subcommand_word(std::string_view word) {
  size_t pos = 0;
  while (pos < word.size()) {
    size_t length = 0;
    const char32_t c = decode_utf8(word, pos, &length);
    if (c != '-' && !is_alphanumeric(c)) return false;
    pos += length;
  }
  return true;
}

// Byte length of the environment assignment that starts `text`, or 0 when
// its first word is none. An assignment is a shell variable name, '=' and a
// value; a value that opens with a quote runs through the next occurrence
// of that quote (or to the end of the text), so the quoted part may hold
// white space, and text glued to the closing quote starts the next word.
size_t assignment_length(std::string_view text, size_t word_length) {
  auto name_start = [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
  };
  auto name_char = [&](char c) { return name_start(c) || (c >= '0' && c <= '9'); };
  if (text.empty() || !name_start(text[0])) return 0;
  size_t equals = 1;
  while (equals < word_length && name_char(text[equals])) ++equals;
  if (equals >= word_length || text[equals] != '=') return 0;
  const size_t value = equals + 1;
  if (value < text.size() && (text[value] == '"' || text[value] == '\'')) {
    const size_t close = text.find(text[value], value + 1);
    return close == std::string_view::npos ? text.size() : close + 1;
  }
  return word_length;
}

// The label of a command line, or nothing when it names no program.
std::optional<std::string> command_label(std::string_view command) {
  std::string_view rest = trim(command);
  std::string_view program;
  while (true) {
    rest = trim_start(rest);
    const size_t length = word_length(rest);
    if (length == 0) return std::nullopt;
    if (const size_t assignment = assignment_length(rest, length); assignment > 0) {
      rest.remove_prefix(assignment);
      continue;
    }
    const std::string_view word = rest.substr(0, length);
    rest.remove_prefix(length);
    if (word == "cd") {
      const size_t chain = rest.find("&&");
      if (chain == std::string_view::npos) return std::string("cd");
      rest.remove_prefix(chain + 2);
      continue;
    }
    program = word;
    break;
  }

  const size_t slash = program.rfind('/');
  const std::string_view base =
      slash == std::string_view::npos ? program : program.substr(slash + 1);
  if (base.empty() || base[0] == '-') return std::nullopt;

  std::string label(base);
  if (is_one_of(base, kSubcommandPrograms)) {
    rest = trim_start(rest);
    const std::string_view next = rest.substr(0, word_length(rest));
    if (!next.empty() && next[0] != '-' && is_subcommand_word(next)) {
      label.push_back(' ');
      label.append(next);
    }
  }
  return label;
}

}  // namespace

uint64_t siphash13(std::string_view bytes) {
  SipHasher13 hasher;
  hasher.write(bytes);
  return hasher.finish();
}

uint64_t call_fingerprint(std::string_view name, std::string_view input) {
  SipHasher13 hasher;
  hasher.write(name);
  hasher.write_byte(0xFF);
  hasher.write(input);
  hasher.write_byte(0xFF);
  return hasher.finish();
}

namespace {

// The steps of record_tool_call after the fingerprint; `read_input` is the
// input text, read only for "Read" calls.
void count_tool_call(SessionEfficiency& record, std::string_view name,
                     uint64_t fingerprint, std::string_view read_input) {
  record.tool_calls += 1;
  record.tools[std::string(name)] += 1;
  const bool is_new = record.call_fingerprints.insert(fingerprint).second;
  if (!is_new && !is_one_of(name, kPollingTools)) record.repeated_calls += 1;
  // A Read without a line window pulls the whole file into the context.
  if (name == "Read" && read_input.find("\"limit\"") == std::string_view::npos &&
      read_input.find("\"offset\"") == std::string_view::npos)
    record.whole_file_reads += 1;
}

}  // namespace

void record_tool_call(SessionEfficiency& record, std::string_view name,
                      std::string_view input) {
  count_tool_call(record, name, call_fingerprint(name, input), input);
}

void record_tool_call(SessionEfficiency& record, std::string_view name,
                      std::optional<json::Element> input) {
  std::string read_input;
  if (name == "Read" && input) read_input = json::compact(*input);
  count_tool_call(record, name, json::compact_fingerprint(name, input), read_input);
}

void record_command(SessionEfficiency& record, std::string_view command, bool redact) {
  std::optional<std::string> label = command_label(command);
  if (!label) return;
  if (redact) label = redact_secrets(*label);
  if (*label == "cat" || *label == "less" || *label == "more")
    record.whole_file_reads += 1;
  record.commands[std::move(*label)] += 1;
}

void merge_into(SessionEfficiency& session, const SessionEfficiency& file) {
  for (const auto& [name, count] : file.tools) session.tools[name] += count;
  for (const auto& [label, count] : file.commands) session.commands[label] += count;
  session.turns += file.turns;
  session.input += file.input;
  session.output += file.output;
  session.cache_read += file.cache_read;
  session.cache_write += file.cache_write;
  session.reasoning += file.reasoning;
  session.tool_calls += file.tool_calls;
  session.repeated_calls += file.repeated_calls;
  session.failed_calls += file.failed_calls;
  session.tool_result_bytes += file.tool_result_bytes;
  session.whole_file_reads += file.whole_file_reads;
}

std::vector<std::pair<std::string, uint64_t>> top_counts(
    const std::map<std::string, uint64_t>& counts) {
  constexpr size_t kTopSize = 8;
  std::vector<std::pair<std::string, uint64_t>> entries(counts.begin(), counts.end());
  const auto before = [](const std::pair<std::string, uint64_t>& a,
                         const std::pair<std::string, uint64_t>& b) {
    if (a.second != b.second) return a.second > b.second;
    return a.first < b.first;  // byte order: char_traits<char> compares unsigned
  };
  const size_t keep = std::min(entries.size(), kTopSize);
  std::partial_sort(entries.begin(), entries.begin() + static_cast<ptrdiff_t>(keep),
                    entries.end(), before);
  entries.resize(keep);
  return entries;
}

}  // namespace lorebox
