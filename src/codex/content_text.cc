#include "codex/content_text.h"

#include <string_view>

#include "json/text_blocks.h"

namespace lorebox {

namespace {

bool is_text_part(std::string_view type) {
  return type == "text" || type == "input_text" || type == "output_text" ||
         type == "summary_text";
}

}  // namespace

void append_content_text(json::Element content, std::string* out) {
  json::append_text_blocks(content, is_text_part, out);
}

}  // namespace lorebox
