// The text of a Codex message content value.
#pragma once

#include <string>

#include "json/value.h"

namespace lorebox {

// Appends to *out the text of a content value: for an array, the "text"
// strings of its object elements whose "type" is "text", "input_text",
// "output_text" or "summary_text", in array order, joined by "\n". Other
// elements are skipped; a value that is not an array adds nothing.
void append_content_text(json::Element content, std::string* out);

}  // namespace lorebox
