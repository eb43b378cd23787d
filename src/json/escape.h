// The one JSON string escaper: quotation mark and backslash escaped,
// \b \t \n \f \r for those controls, other bytes below 0x20 as \u00xx with
// lowercase hexadecimal digits, every other byte (U+007F, non-ASCII)
// unchanged. Both the compact text of input values and the output writer
// use it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lorebox::json {

// How many more bytes the escaped form of `text` takes than `text`.
uint64_t escape_extra(std::string_view text);

// Writes the escaped form of `text` (no quotes), which must take exactly
// text.size() + escape_extra(text) bytes, to `out`.
void write_escaped(std::string_view text, char* out);

// Appends the escaped form of `text` (no quotes): counted first, so the
// string grows once and a text without escapes is one copy.
void append_escaped(std::string_view text, std::string* out);

}  // namespace lorebox::json
