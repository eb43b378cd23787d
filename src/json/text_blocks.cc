#include "json/text_blocks.h"

#include <optional>

namespace lorebox::json {

void append_text_blocks(Element content, bool (*is_text)(std::string_view type),
                        std::string* out) {
  bool first = true;
  for_each_element(content, [&](Element block) {
    std::optional<std::string_view> type = string_member(block, "type");
    if (!type || !is_text(*type)) return;
    std::optional<std::string_view> text = string_member(block, "text");
    if (!text) return;
    if (!first) out->push_back('\n');
    out->append(*text);
    first = false;
  });
}

}  // namespace lorebox::json
