// The private aggregate receipt written beside an export.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "scan/file_stamp.h"
#include "session/result.h"
#include "session/session.h"

namespace lorebox {

// Creates the receipt exclusively (mode 0600, never overwriting), writes the
// counts and the stamps of the files that fed packed sessions, and syncs it
// to the device before closing.
Result<void> write_receipt(const std::filesystem::path& path,
                           const std::vector<StampedSource>& sources,
                           uint64_t skipped_files,
                           const std::vector<Session>& sessions);

}  // namespace lorebox
