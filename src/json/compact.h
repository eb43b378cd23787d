// Compact JSON text of parsed values, byte for byte what nlohmann-json's
// dump() writes: members in ascending byte order of their keys (the last of
// duplicates), its escaping and its number forms.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "json/value.h"

namespace lorebox::json {

// Appends the compact JSON text of the value.
void append_compact(Element value, std::string* out);
// The compact JSON text of the value.
std::string compact(Element value);
// Byte length of the compact JSON text, computed without building it.
uint64_t compact_size(Element value);
// A 64-bit fingerprint of `prefix` and the compact JSON text of the value
// (of the empty text when there is none), computed from the parsed value
// without writing the text: two calls give equal fingerprints exactly when
// their prefixes and texts are equal (but for a hash collision, about one
// chance in 2^64 per pair). Only comparable within one process.
uint64_t compact_fingerprint(std::string_view prefix, std::optional<Element> value);

}  // namespace lorebox::json
