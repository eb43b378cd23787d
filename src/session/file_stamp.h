// FileStamp and SourceScan: the identity of a transcript file that was read,
// and what a transcript reader hands back to the driver.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "session/copied_lines.h"
#include "session/session.h"

namespace lorebox {

// Identity and timestamps of one transcript file (links not followed).
struct FileStamp {
  std::string path;  // absolute
  uint64_t device = 0;
  uint64_t inode = 0;
  uint16_t mode = 0;  // type and permission bits; compared, never written
  int64_t size = 0;
  int64_t modified_seconds = 0;
  int64_t modified_nanoseconds = 0;
  int64_t changed_seconds = 0;
  int64_t changed_nanoseconds = 0;
};

// True when device, inode, mode, size and all four times are equal; the
// path is not compared.
bool same_stamp(const FileStamp& a, const FileStamp& b);

// A file that fed a session, paired with that session's id.
struct StampedSource {
  FileStamp stamp;
  std::string session_id;
};

// What a transcript reader returns: its sessions, the stamps of the files
// that contributed a message (in reading order), how many files were
// skipped by the snapshot checks, and (Claude Code) what the driver needs to
// keep copied lines once.
struct SourceScan {
  std::vector<Session> sessions;
  std::vector<StampedSource> sources;
  uint64_t skipped_files = 0;
  // Claude Code only: sessions holding lines whose identity occurs in
  // another session too, and native ids that stand for a session (native
  // id to session id).
  std::vector<SessionLines> shared_lines;
  SessionAliases aliases;
};

}  // namespace lorebox
