// Compact JSON text of parsed values, byte for byte what nlohmann-json's
// dump() writes: members in ascending byte order of their keys (the last of
// duplicates), its escaping and its number forms.
#pragma once

#include <cstdint>
#include <string>

#include "json/value.h"

namespace lorebox::json {

// Appends the compact JSON text of the value.
void append_compact(Element value, std::string* out);
// The compact JSON text of the value.
std::string compact(Element value);
// Byte length of the compact JSON text, computed without building it.
uint64_t compact_size(Element value);

}  // namespace lorebox::json
