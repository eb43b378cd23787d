#include "archive/manifest.h"

#include "archive/json_writer.h"
#include "archive/title.h"
#include "session/summary.h"
#include "session/version.h"

namespace lorebox {

namespace {

void write_options(JsonWriter& out, const PackOptions& options) {
  out.begin_object();
  out.key("include_usage");
  out.bool_value(options.include_usage);
  out.key("include_assistant");
  out.bool_value(options.include_assistant);
  out.key("include_subagents");
  out.bool_value(options.include_subagents);
  out.key("include_history");
  out.bool_value(options.include_history);
  out.key("redacted");
  out.bool_value(options.redact);
  out.key("max_message_chars");
  if (options.max_message_chars) {
    out.uint_value(*options.max_message_chars);
  } else {
    out.null_value();
  }
  out.end_object();
}

void write_counts(JsonWriter& out, const SourceSummary& summary) {
  out.key("sessions");
  out.uint_value(summary.sessions);
  out.key("prompts");
  out.uint_value(summary.prompts);
  out.key("messages");
  out.uint_value(summary.messages);
}

void write_totals(JsonWriter& out, const SourceSummary& totals) {
  out.begin_object();
  write_counts(out, totals);
  // 0.0 means no value: an empty list, or creation times of exactly 0.0.
  if (totals.earliest != 0.0) {
    out.key("earliest");
    out.time_value(totals.earliest);
  }
  if (totals.latest != 0.0) {
    out.key("latest");
    out.time_value(totals.latest);
  }
  out.end_object();
}

void write_by_source(JsonWriter& out, const std::vector<Session>& sessions) {
  out.begin_array();
  for (SourceKind kind : {SourceKind::ClaudeCode, SourceKind::Codex}) {
    const SourceSummary summary = summarise(sessions, kind);
    if (summary.sessions == 0) continue;
    out.begin_object();
    out.key("source");
    out.string_value(source_identifier(kind));
    write_counts(out, summary);
    out.end_object();
  }
  out.end_array();
}

void write_session(JsonWriter& out, const Session& session) {
  out.begin_object();
  out.key("id");
  out.string_value(session.id);
  out.key("source");
  out.string_value(source_identifier(session.source));
  out.key("title");
  out.string_value(display_title(session));
  if (session.project) {
    out.key("project");
    out.string_value(*session.project);
  }
  out.key("created_at");
  out.time_value(session.created_at);
  out.key("updated_at");
  out.time_value(updated_time(session));
  out.key("prompts");
  out.uint_value(prompt_count(session));
  out.key("messages");
  out.uint_value(message_count(session));
  out.end_object();
}

}  // namespace

Result<void> write_manifest(Sink& sink, const std::vector<Session>& sessions,
                            const PackOptions& options, double generated_at) {
  JsonWriter out(&sink, JsonLayout::Pretty);
  out.begin_object();
  out.key("format");
  out.string_value("lorebox/1");
  out.key("tool");
  out.string_value("lorebox");
  out.key("tool_version");
  out.string_value(kVersion);
  out.key("generated_at");
  out.time_value(generated_at);
  out.key("options");
  write_options(out, options);
  out.key("totals");
  write_totals(out, summarise(sessions));
  out.key("by_source");
  write_by_source(out, sessions);
  out.key("sessions");
  out.begin_array();
  for (const Session& session : sessions) {
    if (!out.ok()) break;
    write_session(out, session);
  }
  out.end_array();
  out.end_object();
  return out.flush();
}

}  // namespace lorebox
