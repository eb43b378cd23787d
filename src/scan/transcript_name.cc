#include "scan/transcript_name.h"

namespace lorebox {

std::string_view transcript_stem(std::string_view path) {
  std::string_view name = path.substr(path.rfind('/') + 1);
  // "x.jsonl.zst" is read as "x.jsonl".
  if (name.ends_with(".jsonl.zst")) name.remove_suffix(std::string_view(".zst").size());
  const size_t dot = name.rfind('.');
  if (dot != std::string_view::npos && dot > 0) name = name.substr(0, dot);
  return name;
}

}  // namespace lorebox
