// Transcript discovery and file snapshots: the walk, the name rule, and the
// settle / admit / open-and-verify / verify-after-read checks that both
// transcript readers run on every file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "scan/line_reader.h"
#include "scan/reading_context.h"
#include "session/file_stamp.h"
#include "session/result.h"

namespace lorebox {

// The three strict-mode failures.
inline constexpr std::string_view kTranscriptUnavailable =
    "selected transcript became unavailable";
inline constexpr std::string_view kTranscriptChangedBeforeRead =
    "selected transcript changed before read";
inline constexpr std::string_view kTranscriptChangedDuringRead =
    "selected transcript changed during read";

// The canonical absolute form of a transcript root (links resolved), or
// nothing when it does not exist or is not a directory.
std::optional<std::string> canonical_root(const std::filesystem::path& root);

// True when a file name passes the name rule: no extension, or the
// extension "jsonl" (and "jsonl.zst" for compressed transcripts).
bool passes_name_rule(std::string_view file_name);

// True for a path, relative to a root, of a file directly in that root whose
// name ends in ".json": a whole-document transcript, taken only from roots
// read with `root_documents` (see read_transcripts).
bool is_root_document(std::string_view relative_path);

// Decides, from a candidate's path relative to the root, whether a reader
// wants it at all (a file it passes over is not counted as skipped).
using AcceptFn = std::function<bool(std::string_view relative_path)>;
// What a reader keeps of one file, applied on the calling thread in walk
// order; empty when the file gives nothing.
using FileResult = std::function<void()>;
// Reads one settled, admitted and opened file through its lines and
// returns what to keep of it. With workers it runs on a worker thread, so
// it may change only its own state and what it returns; everything shared
// is changed by the FileResult.
using ReadFn = std::function<FileResult(const FileStamp& stamp, LineReader& lines)>;
// Makes the ReadFn of one thread (one per worker, or one for a read on the
// calling thread), each with parsers and buffers of its own. Called on the
// calling thread before any file is read.
using MakeReadFn = std::function<ReadFn()>;

// Walks `root` (canonical, from canonical_root) in directory order without
// following links, and for every regular candidate that `accept` wants runs
// the snapshot checks, reads it, and in strict mode (a modified-before
// bound given) verifies the file again afterwards, failing also when its
// reading stopped at a read error instead of its end. A ".jsonl.zst" file is
// decompressed on the fly; its stamp is that of the compressed file. Stamp
// paths are absolute (a relative root is joined to the working directory).
// With `root_documents`, the files directly in the root that
// is_root_document names are candidates too, checked the same way and read
// whole: their LineReader hands out the file as one line
// (LineReader::whole() is true).
//
// With workers in `context`, files are checked and read side by side, a
// bounded number ahead of the oldest one not yet taken; either way every
// FileResult is applied, every skipped file counted into *skipped_files and
// every progress call made on the calling thread, in walk order, exactly as
// when the files are read one by one. Returns one of the three messages
// above on a strict failure: that of the first failing file in walk order,
// after which no later result is applied. An exception thrown while a file
// is read on a worker is thrown again here when that file's turn comes.
Result<void> read_transcripts(const std::string& root,
                              std::optional<double> modified_before,
                              const ReadingContext& context, uint64_t* skipped_files,
                              const AcceptFn& accept, const MakeReadFn& make_read,
                              bool root_documents = false);

// Calls `read` with the lines of a plain file opened read-only (links
// followed); does nothing when it cannot be opened or is not a regular file
// (a FIFO there never blocks the run). For the prompt histories and the
// Codex session index.
void read_plain_lines(const std::filesystem::path& path,
                      const std::function<void(LineReader& lines)>& read);

}  // namespace lorebox
