// JsonWriter: the one JSON serialiser of the output documents, streaming
// into a Sink in compact or two-space pretty layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "archive/sink.h"
#include "session/result.h"

namespace lorebox {

// Compact: no white space between tokens. Pretty: every member and element
// on its own line, indented two spaces per level, ": " after a name, empty
// containers as {} and []. Neither layout ends with a line feed.
enum class JsonLayout { Compact, Pretty };

// Writes one JSON document as a sequence of calls (begin_object, key,
// string_value, ..., end_object). Output is collected into blocks of
// kBlockSize bytes before it reaches the sink. The first sink failure is
// kept; every later call is then ignored, so a caller may check ok() only
// now and then. The caller must keep the calls well-formed (a key before
// each member value, balanced begin/end); the writer does not check.
class JsonWriter {
 public:
  static constexpr size_t kBlockSize = 64 * 1024;

  // `sink` must outlive the writer.
  JsonWriter(Sink* sink, JsonLayout layout);
  JsonWriter(const JsonWriter&) = delete;
  JsonWriter& operator=(const JsonWriter&) = delete;

  void begin_object();
  void end_object();
  void begin_array();
  void end_array();
  // The name of the next member of the current object.
  void key(std::string_view name);

  // A string with standard escaping: \" \\ \b \t \n \f \r, other bytes below
  // 0x20 as \u00xx (lowercase hex), every other byte (U+007F, non-ASCII)
  // unchanged.
  void string_value(std::string_view text);
  void uint_value(uint64_t value);
  void int_value(int64_t value);
  void bool_value(bool value);
  void null_value();
  // A time (or any float) in the form time_text() gives it
  // (time/time_text.h): shortest round-trip decimal, null when not finite.
  void time_value(double value);

  // False once the sink has failed.
  bool ok() const { return failed_ == false; }

  // Hands the buffered bytes to the sink and returns the first failure, if
  // any. The writer may be used again afterwards.
  Result<void> flush();

 private:
  void before_value();
  void append(const char* data, size_t size);
  void append(std::string_view text) { append(text.data(), text.size()); }
  void append_char(char c);
  void append_quoted(std::string_view text);
  void new_line();
  void write_block();

  Sink* sink_;
  JsonLayout layout_;
  std::unique_ptr<char[]> block_;
  size_t used_ = 0;
  bool failed_ = false;
  std::string error_;
  // One entry per open container: how many members or elements it has so
  // far.
  std::vector<uint64_t> counts_;
  bool after_key_ = false;
  std::string escaped_;  // scratch for strings that need escapes
};

}  // namespace lorebox
