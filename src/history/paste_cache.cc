#include "history/paste_cache.h"

#include "scan/line_reader.h"
#include "scan/snapshot.h"

namespace lorebox {

namespace {

constexpr size_t kMaxHashLength = 128;

bool is_hash_char(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         c == '-' || c == '_';
}

}  // namespace

bool is_paste_hash(std::string_view hash) {
  if (hash.empty() || hash.size() > kMaxHashLength) return false;
  for (char c : hash)
    if (!is_hash_char(c)) return false;
  return true;
}

std::optional<std::string> read_pasted_text(const std::filesystem::path& paste_cache,
                                            std::string_view hash) {
  if (paste_cache.empty() || !is_paste_hash(hash)) return std::nullopt;
  const std::string name = (paste_cache / (std::string(hash) + ".txt")).string();

  std::optional<FileStamp> stamp = settle_file(name);
  if (!stamp || stamp->size > kMaxPastedBytes) return std::nullopt;
  std::optional<File> file = open_and_verify(name, *stamp);
  if (!file) return std::nullopt;
  std::string text;
  {
    LineReader reader(make_file_source(*file), LineReader::Split::Whole);
    std::string_view whole;
    if (!reader.next(&whole) || reader.stopped_early()) return std::nullopt;
    text = std::string(whole);
  }
  if (!verify_after_read(name, *file, *stamp)) return std::nullopt;
  return text;
}

}  // namespace lorebox
