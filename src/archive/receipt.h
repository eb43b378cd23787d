// The private aggregate receipt written beside an export.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "session/file_stamp.h"
#include "session/result.h"
#include "session/session.h"

namespace lorebox {

// Creates the receipt exclusively (mode 0600, never overwriting; missing
// parent directories are not created), writes the counts and the stamps of
// the files that fed packed sessions as pretty JSON with a final line feed,
// and syncs it to the device before closing. Failures read
// "could not create receipt: {reason}" (also when the path exists),
// "could not write receipt: {reason}" (the JSON, or "path contains invalid
// UTF-8 characters" for a source path), "could not finish receipt: {reason}"
// (the final line feed, or the close) and "could not sync receipt: {reason}".
// A partly written receipt is left in place.
Result<void> write_receipt(const std::filesystem::path& path,
                           const std::vector<StampedSource>& sources,
                           uint64_t skipped_files, const std::vector<Session>& sessions);

}  // namespace lorebox
