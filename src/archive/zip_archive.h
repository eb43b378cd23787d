// Writes the archive: conversations.json, efficiency.json (when any session
// has accounting), lorebox.json and README.txt, in that order.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "parallel/worker_pool.h"
#include "session/pack_options.h"
#include "session/result.h"
#include "session/session.h"

namespace lorebox {

// Where the archive went and its size on disk.
struct WrittenArchive {
  std::filesystem::path path;
  uint64_t size = 0;
};

// The default archive name, "lorebox-YYYY-MM-DD.zip", dated by the latest
// updated time of the sessions.
std::filesystem::path default_archive_name(const std::vector<Session>& sessions);

// Writes the archive to `output` (or the default name in the current
// directory), creating missing parent directories. With a pool that has
// workers, the entries are compressed on them; nullptr compresses
// everything on this thread. The compressed bytes are the same either way.
// Any failure gives "Could not write {path}: {reason}".
Result<WrittenArchive> write_archive(const std::optional<std::filesystem::path>& output,
                                     const std::vector<Session>& sessions,
                                     const PackOptions& options, WorkerPool* pool);

}  // namespace lorebox
