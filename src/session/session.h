// The records every reader produces and every writer consumes: Session,
// Message, SourceKind and the per-session accounting record.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "session/line_identity.h"

namespace lorebox {

// Which agent a session came from. The order (Claude Code first) is the
// order of every per-source report.
enum class SourceKind { ClaudeCode, Codex };

// "claude-code" or "codex": the identifier written to the archive.
std::string_view source_identifier(SourceKind kind);
// "Claude Code" or "Codex": the name shown in reports.
std::string_view source_display_name(SourceKind kind);
// "claude" or "codex": the prefix of every session id of that source.
std::string_view source_id_prefix(SourceKind kind);

enum class Role { User, Assistant };

// One kept prompt or reply. `text` is already cleaned, redacted and
// truncated, and never empty.
struct Message {
  std::string text;
  std::optional<std::string> model;  // assistant replies only
  double timestamp = 0.0;            // epoch seconds
  Role role = Role::User;
  // Claude Code only: the identity of the line the message came from
  // (line_identity.h), when it had one.
  bool has_identity = false;
  LineIdentity identity;
};

// Token and tool accounting of one transcript file or one session.
struct SessionEfficiency {
  std::map<std::string, uint64_t> tools;     // calls per tool name
  std::map<std::string, uint64_t> commands;  // shell commands per label
  // Fingerprints of the calls seen in the current transcript file; never
  // merged into a session.
  std::unordered_set<uint64_t> call_fingerprints;
  uint64_t turns = 0;
  uint64_t input = 0;
  uint64_t output = 0;
  uint64_t cache_read = 0;
  uint64_t cache_write = 0;
  uint64_t reasoning = 0;
  uint64_t tool_calls = 0;
  uint64_t repeated_calls = 0;
  uint64_t failed_calls = 0;
  uint64_t tool_result_bytes = 0;
  uint64_t whole_file_reads = 0;
};

// One conversation.
struct Session {
  std::string id;  // "{prefix}-{native id}"
  std::vector<Message> messages;
  std::optional<std::string> title;    // stored by the agent, if any
  std::optional<std::string> project;  // working directory
  SessionEfficiency efficiency;
  double created_at = 0.0;  // first message's timestamp once sorted
  SourceKind source = SourceKind::ClaudeCode;
};

// The last message's timestamp, or created_at when there is none.
double updated_time(const Session& session);
// Number of messages whose role is user.
uint64_t prompt_count(const Session& session);
// Number of all messages.
inline uint64_t message_count(const Session& session) { return session.messages.size(); }

// True when a comes before b in IEEE 754 totalOrder (-NaN < -inf < ... <
// -0 < +0 < ... < +inf < +NaN).
bool total_order_less(double a, double b);

// Stable-sorts the messages by timestamp in totalOrder and sets created_at
// to the first message's timestamp (left alone when there are none).
void sort_messages(Session& session);

}  // namespace lorebox
