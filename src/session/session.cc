#include "session/session.h"

#include <algorithm>
#include <bit>
#include <cstdint>

namespace lorebox {

std::string_view source_identifier(SourceKind kind) {
  return kind == SourceKind::ClaudeCode ? "claude-code" : "codex";
}

std::string_view source_display_name(SourceKind kind) {
  return kind == SourceKind::ClaudeCode ? "Claude Code" : "Codex";
}

std::string_view source_id_prefix(SourceKind kind) {
  return kind == SourceKind::ClaudeCode ? "claude" : "codex";
}

double updated_time(const Session& session) {
  return session.messages.empty() ? session.created_at
                                  : session.messages.back().timestamp;
}

uint64_t prompt_count(const Session& session) {
  return static_cast<uint64_t>(
      std::count_if(session.messages.begin(), session.messages.end(),
                    [](const Message& m) { return m.role == Role::User; }));
}

namespace {

// Maps a double to a signed integer whose order is the IEEE 754 totalOrder:
// negative values have their magnitude bits flipped.
int64_t total_order_key(double value) {
  int64_t bits = std::bit_cast<int64_t>(value);
  return bits < 0 ? bits ^ INT64_MAX : bits;
}

}  // namespace

bool total_order_less(double a, double b) {
  return total_order_key(a) < total_order_key(b);
}

void sort_messages(Session& session) {
  std::stable_sort(session.messages.begin(), session.messages.end(),
                   [](const Message& a, const Message& b) {
                     return total_order_less(a.timestamp, b.timestamp);
                   });
  if (!session.messages.empty()) session.created_at = session.messages.front().timestamp;
}

}  // namespace lorebox
