// Writes the receipt: counts and the stamps of the source files that fed
// the packed sessions, as pretty JSON, to a file created exclusively with
// mode 0600 and synced to the device before it is closed.

#include "archive/receipt.h"

#include <cstring>
#include <string>
#include <string_view>
#include <unordered_set>

#include "archive/json_writer.h"
#include "archive/sink.h"
#include "io/file.h"
#include "text/utf8.h"

namespace lorebox {

namespace {

// The receipt file as a Sink: writes all bytes or fails with the system's
// reason.
class ReceiptFile : public Sink {
 public:
  ReceiptFile() = default;
  ReceiptFile(const ReceiptFile&) = delete;
  ReceiptFile& operator=(const ReceiptFile&) = delete;

  // Creates the file (mode 0600); fails when anything exists at the path.
  Result<void> create(const std::filesystem::path& path) {
    int code = 0;
    Result<File> created = File::open(path, OpenMode::CreateExclusive, &code);
    if (!created) return Fail(std::strerror(code));
    file_ = std::move(*created);
    return {};
  }

  Result<void> write(std::string_view bytes) override { return file_.write_all(bytes); }

  Result<void> sync() { return file_.sync(); }
  Result<void> close() { return file_.close(); }

 private:
  File file_;
};

// The selected stamps: those of files that fed a packed session.
std::vector<const FileStamp*> select_stamps(const std::vector<StampedSource>& sources,
                                            const std::vector<Session>& sessions) {
  std::unordered_set<std::string_view> packed;
  for (const Session& session : sessions) packed.insert(session.id);
  std::vector<const FileStamp*> selected;
  for (const StampedSource& source : sources) {
    if (packed.count(source.session_id) > 0) selected.push_back(&source.stamp);
  }
  return selected;
}

// Writes the JSON document; fails with the sink's reason or with the
// invalid-path reason.
Result<void> write_document(Sink& sink, const std::vector<const FileStamp*>& stamps,
                            uint64_t skipped_files,
                            const std::vector<Session>& sessions) {
  uint64_t prompts = 0;
  uint64_t messages = 0;
  for (const Session& session : sessions) {
    prompts += prompt_count(session);
    messages += message_count(session);
  }
  uint64_t bytes = 0;
  for (const FileStamp* stamp : stamps) {
    if (stamp->size > 0) bytes += static_cast<uint64_t>(stamp->size);
  }

  JsonWriter out(&sink, JsonLayout::Pretty);
  out.begin_object();
  out.key("format");
  out.string_value("lorebox-receipt/1");
  out.key("sourceFiles");
  out.uint_value(stamps.size());
  out.key("sourceBytes");
  out.uint_value(bytes);
  out.key("sessions");
  out.uint_value(sessions.size());
  out.key("prompts");
  out.uint_value(prompts);
  out.key("messages");
  out.uint_value(messages);
  out.key("skippedFiles");
  out.uint_value(skipped_files);
  out.key("sources");
  out.begin_array();
  for (const FileStamp* stamp : stamps) {
    if (!is_valid_utf8(stamp->path)) {
      // Leave what was written so far in place, as after any write failure.
      if (Result<void> flushed = out.flush(); !flushed) return flushed;
      return Fail("path contains invalid UTF-8 characters");
    }
    out.begin_object();
    out.key("path");
    out.string_value(stamp->path);
    out.key("device");
    out.uint_value(stamp->device);
    out.key("inode");
    out.uint_value(stamp->inode);
    out.key("size");
    out.int_value(stamp->size);
    out.key("modifiedSeconds");
    out.int_value(stamp->modified_seconds);
    out.key("modifiedNanoseconds");
    out.int_value(stamp->modified_nanoseconds);
    out.key("changedSeconds");
    out.int_value(stamp->changed_seconds);
    out.key("changedNanoseconds");
    out.int_value(stamp->changed_nanoseconds);
    out.end_object();
  }
  out.end_array();
  out.end_object();
  return out.flush();
}

}  // namespace

Result<void> write_receipt(const std::filesystem::path& path,
                           const std::vector<StampedSource>& sources,
                           uint64_t skipped_files, const std::vector<Session>& sessions) {
  const std::vector<const FileStamp*> stamps = select_stamps(sources, sessions);

  ReceiptFile file;
  if (Result<void> created = file.create(path); !created)
    return Fail("could not create receipt: " + created.error());
  if (Result<void> written = write_document(file, stamps, skipped_files, sessions);
      !written)
    return Fail("could not write receipt: " + written.error());
  if (Result<void> finished = file.write("\n"); !finished)
    return Fail("could not finish receipt: " + finished.error());
  if (Result<void> synced = file.sync(); !synced)
    return Fail("could not sync receipt: " + synced.error());
  // The data is on the device; a failing close still means the receipt is
  // not known to be complete.
  if (Result<void> closed = file.close(); !closed)
    return Fail("could not finish receipt: " + closed.error());
  return {};
}

}  // namespace lorebox
