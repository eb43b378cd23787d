// Target for the Codex session index: the input is written as the index
// and the table read from it is compared with one built from the same lines
// by nlohmann-json.
#include <string>
#include <string_view>

#include "codex/session_index.h"
#include "fuzz_check.h"
#include "fuzz_targets.h"
#include "line_model.h"
#include "scratch_home.h"

namespace lorebox::fuzz {

namespace {

// The table the index's lines describe: the last string "thread_name" of
// each string "id".
TitleTable model_table(std::string_view bytes) {
  TitleTable table;
  for (std::string_view line : model_lines(bytes)) {
    const std::optional<nlohmann::json> value = model_value(line);
    if (!value || !value->is_object()) continue;
    const auto id = value->find("id");
    const auto name = value->find("thread_name");
    if (id == value->end() || name == value->end() || !id->is_string() ||
        !name->is_string())
      continue;
    table.insert_or_assign(id->get<std::string>(), name->get<std::string>());
  }
  return table;
}

}  // namespace

int fuzz_session_index(const uint8_t* data, size_t size) {
  const std::filesystem::path home = scratch_dir() / "index";
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (!expect(put_file(home / "session_index.jsonl", bytes),
              "could not write the scratch index"))
    return 0;

  const TitleTable table = read_session_index(home);
  expect(table == model_table(bytes), "the title table differs from the index's lines");
  return 0;
}

}  // namespace lorebox::fuzz
