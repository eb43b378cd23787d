// The text of a message's content blocks.
#pragma once

#include <string>
#include <string_view>

#include "json/value.h"

namespace lorebox::json {

// Appends to *out the "text" strings of the elements of `content` that are
// objects whose string "type" passes `is_text`, joined with "\n" (no
// separator before the first). Content that is not an array, or has no
// such block, appends nothing.
void append_text_blocks(Element content, bool (*is_text)(std::string_view type),
                        std::string* out);

}  // namespace lorebox::json
