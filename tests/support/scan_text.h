// Everything a transcript reader returned, as one text, so that two reads
// (one by one, and side by side on workers) can be compared whole.
#pragma once

#include <fmt/format.h>

#include <string>

#include "session/file_stamp.h"
#include "session/session.h"

namespace lorebox::testing {

inline std::string scan_text(const SourceScan& scan) {
  std::string out = fmt::format("skipped {}\n", scan.skipped_files);
  for (const StampedSource& source : scan.sources) {
    const FileStamp& s = source.stamp;
    out += fmt::format("source {} {} {} {} {} {} {}.{} {}.{}\n", source.session_id,
                       s.path, s.device, s.inode, s.mode, s.size, s.modified_seconds,
                       s.modified_nanoseconds, s.changed_seconds, s.changed_nanoseconds);
  }
  for (const Session& session : scan.sessions) {
    const SessionEfficiency& e = session.efficiency;
    out += fmt::format("session {} {} title={} project={} created={}\n", session.id,
                       static_cast<int>(session.source), session.title.value_or("-"),
                       session.project.value_or("-"), session.created_at);
    out +=
        fmt::format("  accounting {} {} {} {} {} {} {} {} {} {} {} fingerprints={}\n",
                    e.turns, e.input, e.output, e.cache_read, e.cache_write, e.reasoning,
                    e.tool_calls, e.repeated_calls, e.failed_calls, e.tool_result_bytes,
                    e.whole_file_reads, e.call_fingerprints.size());
    for (const auto& [name, count] : e.tools)
      out += fmt::format("  tool {} {}\n", name, count);
    for (const auto& [name, count] : e.commands)
      out += fmt::format("  command {} {}\n", name, count);
    for (const Message& m : session.messages)
      out += fmt::format("  {} {} {} {}\n", m.role == Role::User ? "U" : "A", m.timestamp,
                         m.model.value_or("-"), m.text);
  }
  return out;
}

}  // namespace lorebox::testing
