// The pasted texts newer Claude Code keeps outside its prompt history, in
// "paste-cache/<hash>.txt" under its home, naming them in "history.jsonl"
// by hash only.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace lorebox {

// A cached paste longer than this is not read (its placeholder stays).
inline constexpr int64_t kMaxPastedBytes = 16 * 1024 * 1024;

// True when `hash` can name a file of the paste cache: 1 to 128 ASCII
// letters, digits, '-' or '_', so it can neither leave the folder nor name
// a hidden or special file.
bool is_paste_hash(std::string_view hash);

// The text of "{paste_cache}/{hash}.txt", read through the same checks as
// a transcript (no symbolic link on the path, a regular file, unchanged
// between the checks and the open, at most kMaxPastedBytes). `paste_cache`
// is the folder's canonical path (canonical_root), as a transcript root
// is, so a linked home still works. Nothing when the folder is empty, the
// hash is not a plain name, the file is missing, fails a check, cannot be
// read whole, is empty or is not valid UTF-8.
std::optional<std::string> read_pasted_text(const std::filesystem::path& paste_cache,
                                            std::string_view hash);

}  // namespace lorebox
