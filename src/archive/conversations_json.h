// conversations.json: the packed sessions as conversations in the shape of
// a ChatGPT data export, written compactly and streamed into a sink.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "archive/sink.h"
#include "session/result.h"
#include "session/session.h"

namespace lorebox {

// One session as a conversation. The views and the message span borrow from
// the session, which must outlive the record; the mapping is not stored but
// derived from the messages: the node at position i has node id
// node_id(i), parent node_id(i - 1) (none for i = 0) and message id
// "{id}-{node id}".
struct Conversation {
  std::string_view id;                                 // the session's id
  std::string title;                                   // display title
  double create_time = 0;                              // the session's created_at
  double update_time = 0;                              // the last message's timestamp
  std::optional<std::string_view> default_model_slug;  // last model given
  std::string_view source;                             // "claude-code" / "codex"
  std::optional<std::string_view> project;
  std::span<const Message> messages;  // never empty
};

// One conversation per session that has messages, in list order. The
// sessions must outlive the result.
std::vector<Conversation> build_conversations(const std::vector<Session>& sessions);

// "n{:06}": n000000, n000001, ..., n999999, n1000000.
std::string node_id(uint64_t position);

// True when node_id(a) sorts before node_id(b) in byte order.
bool node_id_less(uint64_t a, uint64_t b);

// Positions 0 .. count-1 in byte order of their node ids. For counts up to
// 1,000,000 that is plain position order.
std::vector<uint64_t> node_order(uint64_t count);

// Writes the conversations as one compact JSON array ([] when empty),
// piece by piece. Stops at the first sink failure and returns its reason.
Result<void> write_conversations(Sink& sink,
                                 const std::vector<Conversation>& conversations);

}  // namespace lorebox
