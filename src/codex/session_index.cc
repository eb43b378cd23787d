#include "codex/session_index.h"

#include <optional>
#include <string_view>

#include "json/line_parser.h"
#include "json/value.h"
#include "scan/line_reader.h"
#include "scan/transcripts.h"

namespace lorebox {

TitleTable read_session_index(const std::filesystem::path& codex_home) {
  TitleTable table;
  json::LineParser parser;
  read_plain_lines(codex_home / "session_index.jsonl", [&](LineReader& lines) {
    std::string_view line;
    while (lines.next(&line)) {
      std::optional<json::Element> value = parser.parse_padded(line);
      if (!value) continue;
      // string_member yields nothing for a value that is not an object.
      std::optional<std::string_view> id = json::string_member(*value, "id");
      std::optional<std::string_view> name = json::string_member(*value, "thread_name");
      if (!id || !name) continue;
      table.insert_or_assign(std::string(*id), std::string(*name));
    }
  });
  return table;
}

}  // namespace lorebox
