#include "codex/rollout_name.h"

#include "text/utf8.h"

namespace lorebox {

namespace {

constexpr std::string_view kCompressedSuffix = ".zst";
constexpr std::string_view kCompressedRollout = ".jsonl.zst";

}  // namespace

std::string rollout_name_id(std::string_view file_name) {
  std::string_view name = file_name;
  // Codex compresses "x.jsonl" to "x.jsonl.zst"; read it as the plain name.
  if (name.ends_with(kCompressedRollout))
    name.remove_suffix(kCompressedSuffix.size());
  size_t dot = name.rfind('.');
  if (dot != std::string_view::npos && dot != 0) name = name.substr(0, dot);
  if (!is_valid_utf8(name)) return std::string();
  return std::string(name);
}

}  // namespace lorebox
