// A private temporary directory for the targets that read files.
#pragma once

#include <filesystem>
#include <string_view>

namespace lorebox::fuzz {

// The canonical path of a directory made on first use under the system's
// temporary directory and removed, with its contents, when the process
// exits normally. Empty when it could not be made.
const std::filesystem::path& scratch_dir();

// Replaces the content of the file at `path` with `bytes`, creating missing
// parent directories. False when any step fails.
bool put_file(const std::filesystem::path& path, std::string_view bytes);

}  // namespace lorebox::fuzz
