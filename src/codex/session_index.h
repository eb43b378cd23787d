// The Codex session index: thread names by thread id.
#pragma once

#include <filesystem>
#include <string>
#include <unordered_map>

namespace lorebox {

// Thread id to thread name.
using TitleTable = std::unordered_map<std::string, std::string>;

// Reads "{codex_home}/session_index.jsonl"; the last line for an id wins.
// Never fails: a missing or broken index gives a smaller table.
TitleTable read_session_index(const std::filesystem::path& codex_home);

}  // namespace lorebox
