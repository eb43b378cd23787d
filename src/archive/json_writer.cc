#include "archive/json_writer.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "json/escape.h"
#include "time/time_text.h"

namespace lorebox {

JsonWriter::JsonWriter(Sink* sink, JsonLayout layout)
    : sink_(sink), layout_(layout), block_(new char[kBlockSize]) {}

void JsonWriter::append(const char* data, size_t size) {
  while (size > 0 && !failed_) {
    const size_t room = kBlockSize - used_;
    const size_t take = size < room ? size : room;
    std::memcpy(block_.get() + used_, data, take);
    used_ += take;
    data += take;
    size -= take;
    if (used_ == kBlockSize) write_block();
  }
}

void JsonWriter::append_char(char c) {
  if (failed_) return;
  block_[used_++] = c;
  if (used_ == kBlockSize) write_block();
}

void JsonWriter::write_block() {
  if (failed_ || used_ == 0) return;
  Result<void> written = sink_->write(std::string_view(block_.get(), used_));
  used_ = 0;
  if (!written) {
    failed_ = true;
    error_ = written.error();
  }
}

Result<void> JsonWriter::flush() {
  write_block();
  if (failed_) return Fail(error_);
  return {};
}

void JsonWriter::new_line() {
  append_char('\n');
  for (size_t i = 0; i < counts_.size(); ++i) append("  ", 2);
}

void JsonWriter::before_value() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (counts_.empty()) return;
  if (counts_.back()++ > 0) append_char(',');
  if (layout_ == JsonLayout::Pretty) new_line();
}

void JsonWriter::begin_object() {
  before_value();
  append_char('{');
  counts_.push_back(0);
}

void JsonWriter::begin_array() {
  before_value();
  append_char('[');
  counts_.push_back(0);
}

void JsonWriter::end_object() {
  const uint64_t count = counts_.back();
  counts_.pop_back();
  if (count > 0 && layout_ == JsonLayout::Pretty) new_line();
  append_char('}');
}

void JsonWriter::end_array() {
  const uint64_t count = counts_.back();
  counts_.pop_back();
  if (count > 0 && layout_ == JsonLayout::Pretty) new_line();
  append_char(']');
}

void JsonWriter::key(std::string_view name) {
  before_value();
  append_quoted(name);
  if (layout_ == JsonLayout::Pretty) {
    append(": ", 2);
  } else {
    append_char(':');
  }
  after_key_ = true;
}

void JsonWriter::string_value(std::string_view text) {
  before_value();
  append_quoted(text);
}

void JsonWriter::append_quoted(std::string_view text) {
  append_char('"');
  const uint64_t extra = json::escape_extra(text);
  const size_t escaped_size = text.size() + extra;
  if (extra == 0) {
    append(text.data(), text.size());
  } else if (!failed_ && escaped_size <= kBlockSize - used_) {
    // Escaped straight into the block when it fits ...
    json::write_escaped(text, block_.get() + used_);
    used_ += escaped_size;
    if (used_ == kBlockSize) write_block();
  } else {
    // ... else in a scratch buffer, then copied into the blocks.
    escaped_.resize(escaped_size);
    json::write_escaped(text, escaped_.data());
    append(escaped_.data(), escaped_.size());
  }
  append_char('"');
}

void JsonWriter::uint_value(uint64_t value) {
  before_value();
  char buffer[24];
  const std::to_chars_result result =
      std::to_chars(buffer, buffer + sizeof buffer, value);
  append(buffer, static_cast<size_t>(result.ptr - buffer));
}

void JsonWriter::int_value(int64_t value) {
  before_value();
  char buffer[24];
  const std::to_chars_result result =
      std::to_chars(buffer, buffer + sizeof buffer, value);
  append(buffer, static_cast<size_t>(result.ptr - buffer));
}

void JsonWriter::bool_value(bool value) {
  before_value();
  if (value) {
    append("true", 4);
  } else {
    append("false", 5);
  }
}

void JsonWriter::null_value() {
  before_value();
  append("null", 4);
}

void JsonWriter::time_value(double value) {
  before_value();
  char buffer[kTimeTextSize];
  append(buffer, format_time(value, buffer));
}

}  // namespace lorebox
