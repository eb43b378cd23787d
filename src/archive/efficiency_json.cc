#include "archive/efficiency_json.h"

#include <map>
#include <string>

#include "archive/json_writer.h"
#include "efficiency/accountant.h"

namespace lorebox {

namespace {

// [[name, count], ...] in top_counts order.
void write_top_list(JsonWriter& out, const std::map<std::string, uint64_t>& counts) {
  out.begin_array();
  for (const auto& [name, count] : top_counts(counts)) {
    out.begin_array();
    out.string_value(name);
    out.uint_value(count);
    out.end_array();
  }
  out.end_array();
}

// The members are written in byte order of their names, as a generic JSON
// object of the accounting would hold them.
void write_entry(JsonWriter& out, const Session& session) {
  const SessionEfficiency& e = session.efficiency;
  out.begin_object();
  out.key("failed_calls");
  out.uint_value(e.failed_calls);
  out.key("id");
  out.string_value(session.id);
  out.key("repeated_calls");
  out.uint_value(e.repeated_calls);
  out.key("source");
  out.string_value(source_identifier(session.source));
  out.key("started_at");
  out.time_value(session.created_at);
  out.key("tokens");
  out.begin_object();
  out.key("cache_read");
  out.uint_value(e.cache_read);
  out.key("cache_write");
  out.uint_value(e.cache_write);
  out.key("input");
  out.uint_value(e.input);
  out.key("output");
  out.uint_value(e.output);
  out.key("reasoning");
  out.uint_value(e.reasoning);
  out.end_object();
  out.key("tool_calls");
  out.uint_value(e.tool_calls);
  out.key("tool_result_bytes");
  out.uint_value(e.tool_result_bytes);
  out.key("top_commands");
  write_top_list(out, e.commands);
  out.key("top_tools");
  write_top_list(out, e.tools);
  out.key("turns");
  out.uint_value(e.turns);
  out.key("whole_file_reads");
  out.uint_value(e.whole_file_reads);
  out.end_object();
}

}  // namespace

bool has_accounting(const Session& session) {
  const SessionEfficiency& e = session.efficiency;
  return e.turns != 0 || e.tool_calls != 0 || e.cache_read != 0;
}

bool any_accounting(const std::vector<Session>& sessions) {
  for (const Session& session : sessions) {
    if (has_accounting(session)) return true;
  }
  return false;
}

Result<void> write_efficiency(Sink& sink, const std::vector<Session>& sessions) {
  JsonWriter out(&sink, JsonLayout::Compact);
  out.begin_object();
  out.key("format");
  out.string_value("lorebox-efficiency/1");
  out.key("sessions");
  out.begin_array();
  for (const Session& session : sessions) {
    if (!out.ok()) break;
    if (has_accounting(session)) write_entry(out, session);
  }
  out.end_array();
  out.end_object();
  return out.flush();
}

}  // namespace lorebox
