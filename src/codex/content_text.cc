#include "codex/content_text.h"

#include <optional>
#include <string_view>

namespace lorebox {

namespace {

bool is_text_part(std::string_view type) {
  return type == "text" || type == "input_text" || type == "output_text" ||
         type == "summary_text";
}

}  // namespace

void append_content_text(json::Element content, std::string* out) {
  simdjson::dom::array parts;
  if (content.get(parts) != simdjson::SUCCESS) return;
  bool first = true;
  for (json::Element part : parts) {
    std::optional<std::string_view> type = json::string_member(part, "type");
    if (!type || !is_text_part(*type)) continue;
    std::optional<std::string_view> text = json::string_member(part, "text");
    if (!text) continue;
    if (!first) out->push_back('\n');
    out->append(*text);
    first = false;
  }
}

}  // namespace lorebox
