#include "session_checks.h"

#include <cmath>
#include <string>

#include "fuzz_check.h"
#include "text/utf8.h"

namespace lorebox::fuzz {

namespace {

bool valid_optional(const std::optional<std::string>& text) {
  return !text || is_valid_utf8(*text);
}

void expect_accounting(const SessionEfficiency& record, const PackOptions& options) {
  if (!options.include_usage) {
    expect(record.tools.empty() && record.commands.empty() && record.turns == 0 &&
               record.input == 0 && record.output == 0 && record.cache_read == 0 &&
               record.cache_write == 0 && record.reasoning == 0 &&
               record.tool_calls == 0 && record.failed_calls == 0 &&
               record.tool_result_bytes == 0,
           "accounting was recorded without include_usage");
    return;
  }
  uint64_t calls = 0;
  for (const auto& [name, count] : record.tools) {
    calls += count;
    expect(is_valid_utf8(name), "a tool name is not valid UTF-8");
  }
  for (const auto& [label, count] : record.commands)
    expect(!label.empty() && is_valid_utf8(label), "a command label is empty or invalid");
  expect(calls == record.tool_calls, "tool counts do not add up to the tool calls");
  expect(record.repeated_calls <= record.tool_calls, "more repeated calls than calls");
}

}  // namespace

PackOptions reader_options(std::string_view input) {
  size_t hash = input.size();
  for (char c : input.substr(0, 64)) hash = hash * 31 + static_cast<unsigned char>(c);
  PackOptions options;
  switch (hash % 3) {
    case 0:
      break;
    case 1:
      options.include_subagents = true;
      options.include_assistant = false;
      options.max_message_chars = hash / 3 % 40;
      options.modified_before = 4102444800.0;  // 2100-01-01: admits a file written now
      break;
    default:
      options.redact = false;
      options.include_usage = false;
      break;
  }
  return options;
}

void expect_session(const Session& session, SourceKind source,
                    const PackOptions& options) {
  const std::string prefix = std::string(source_id_prefix(source)) + "-";
  expect(session.source == source, "a session has the wrong source");
  expect(session.id.starts_with(prefix), "a session id lacks its source prefix");
  expect(is_valid_utf8(session.id), "a session id is not valid UTF-8");
  expect(valid_optional(session.title) && valid_optional(session.project),
         "a title or project is not valid UTF-8");
  expect(!session.messages.empty(), "a session without messages");
  if (!session.messages.empty())
    expect(session.created_at == session.messages.front().timestamp ||
               (std::isnan(session.created_at) &&
                std::isnan(session.messages.front().timestamp)),
           "created_at is not the first message's timestamp");

  const Message* previous = nullptr;
  for (const Message& message : session.messages) {
    expect_message_text(message.text, options.redact, options.max_message_chars);
    expect(std::isfinite(message.timestamp), "a message timestamp is not finite");
    if (previous != nullptr)
      expect(!total_order_less(message.timestamp, previous->timestamp),
             "messages are out of timestamp order");
    if (message.role == Role::User) {
      expect(!message.model, "a prompt carries a model");
    } else {
      expect(options.include_assistant, "a reply was kept without include_assistant");
      expect(valid_optional(message.model), "a model name is not valid UTF-8");
    }
    previous = &message;
  }
  expect_accounting(session.efficiency, options);
}

void expect_single_file_scan(const SourceScan& scan, SourceKind source,
                             const PackOptions& options) {
  expect(scan.skipped_files == 0, "an unchanged transcript was skipped");
  expect(scan.sessions.size() <= 1, "one transcript gave several sessions");
  expect(scan.sources.size() == scan.sessions.size(),
         "the stamps do not match the sessions");
  for (const Session& session : scan.sessions) expect_session(session, source, options);
  if (!scan.sessions.empty() && !scan.sources.empty())
    expect(scan.sources.front().session_id == scan.sessions.front().id,
           "a stamp is paired with another session");
}

}  // namespace lorebox::fuzz
