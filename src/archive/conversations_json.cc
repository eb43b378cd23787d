// Builds and writes conversations.json.
//
// The document is streamed: each conversation is written node by node into
// the JsonWriter, whose 64 KiB blocks go straight to the sink (the
// compressing archive entry). Only the Conversation records, which borrow
// the sessions' texts, are held in memory.
//
// Mapping order: members are written in byte order of node id. Ids below
// n1000000 are all six digits wide, so up to 1,000,000 messages that is
// position order; beyond it the positions are sorted by a numeric
// comparison that matches byte order without formatting any id.

#include "archive/conversations_json.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "archive/json_writer.h"
#include "archive/title.h"

namespace lorebox {

namespace {

constexpr uint64_t kSixDigitIds = 1000000;

// Formats node_id(position) into `buffer` and returns a view of it.
std::string_view format_node_id(uint64_t position, char (&buffer)[24]) {
  buffer[0] = 'n';
  char digits[21];
  const std::to_chars_result result =
      std::to_chars(digits, digits + sizeof digits, position);
  const size_t length = static_cast<size_t>(result.ptr - digits);
  size_t used = 1;
  for (size_t pad = length; pad < 6; ++pad) buffer[used++] = '0';
  std::memcpy(buffer + used, digits, length);
  return std::string_view(buffer, used + length);
}

// Number of digits in node_id(position) after the "n".
int id_digits(uint64_t position) {
  int digits = 1;
  for (uint64_t rest = position / 10; rest > 0; rest /= 10) ++digits;
  return digits < 6 ? 6 : digits;
}

uint64_t power_of_ten(int exponent) {
  uint64_t value = 1;
  for (int i = 0; i < exponent; ++i) value *= 10;
  return value;
}

void write_node(JsonWriter& out, const Conversation& conversation, uint64_t position,
                std::string& message_id) {
  char id_buffer[24];
  const std::string_view id = format_node_id(position, id_buffer);
  const Message& message = conversation.messages[position];

  out.key(id);
  out.begin_object();
  out.key("id");
  out.string_value(id);
  out.key("parent");
  if (position == 0) {
    out.null_value();
  } else {
    char parent_buffer[24];
    out.string_value(format_node_id(position - 1, parent_buffer));
  }
  out.key("message");
  out.begin_object();
  out.key("id");
  message_id.assign(conversation.id);
  message_id += '-';
  message_id += id;
  out.string_value(message_id);
  out.key("author");
  out.begin_object();
  out.key("role");
  out.string_value(message.role == Role::User ? "user" : "assistant");
  out.end_object();
  out.key("create_time");
  out.time_value(message.timestamp);
  out.key("content");
  out.begin_object();
  out.key("content_type");
  out.string_value("text");
  out.key("parts");
  out.begin_array();
  out.string_value(message.text);
  out.end_array();
  out.end_object();
  out.key("metadata");
  out.begin_object();
  if (message.model) {
    out.key("model_slug");
    out.string_value(*message.model);
  }
  out.end_object();
  out.end_object();
  out.end_object();
}

void write_conversation(JsonWriter& out, const Conversation& conversation,
                        std::string& message_id) {
  const uint64_t count = conversation.messages.size();
  char current_buffer[24];

  out.begin_object();
  out.key("id");
  out.string_value(conversation.id);
  out.key("title");
  out.string_value(conversation.title);
  out.key("create_time");
  out.time_value(conversation.create_time);
  out.key("update_time");
  out.time_value(conversation.update_time);
  out.key("current_node");
  out.string_value(format_node_id(count - 1, current_buffer));
  if (conversation.default_model_slug) {
    out.key("default_model_slug");
    out.string_value(*conversation.default_model_slug);
  }
  out.key("mapping");
  out.begin_object();
  if (count <= kSixDigitIds) {
    for (uint64_t position = 0; position < count && out.ok(); ++position)
      write_node(out, conversation, position, message_id);
  } else {
    for (uint64_t position : node_order(count)) {
      if (!out.ok()) break;
      write_node(out, conversation, position, message_id);
    }
  }
  out.end_object();
  out.key("lorebox");
  out.begin_object();
  out.key("source");
  out.string_value(conversation.source);
  if (conversation.project) {
    out.key("project");
    out.string_value(*conversation.project);
  }
  out.end_object();
  out.end_object();
}

}  // namespace

std::vector<Conversation> build_conversations(const std::vector<Session>& sessions) {
  std::vector<Conversation> conversations;
  for (const Session& session : sessions) {
    if (session.messages.empty()) continue;
    Conversation conversation;
    conversation.id = session.id;
    conversation.title = display_title(session);
    conversation.create_time = session.created_at;
    conversation.update_time = session.messages.back().timestamp;
    for (auto it = session.messages.rbegin(); it != session.messages.rend(); ++it) {
      if (it->model) {
        conversation.default_model_slug = *it->model;
        break;
      }
    }
    conversation.source = source_identifier(session.source);
    if (session.project) conversation.project = *session.project;
    conversation.messages = session.messages;
    conversations.push_back(std::move(conversation));
  }
  return conversations;
}

std::string node_id(uint64_t position) {
  char buffer[24];
  return std::string(format_node_id(position, buffer));
}

bool node_id_less(uint64_t a, uint64_t b) {
  const int a_digits = id_digits(a);
  const int b_digits = id_digits(b);
  if (a_digits == b_digits) return a < b;
  // Compare the longer id's leading digits with the shorter id; when they
  // are equal the shorter id is a prefix of the longer and sorts first.
  if (a_digits < b_digits) return a <= b / power_of_ten(b_digits - a_digits);
  return a / power_of_ten(a_digits - b_digits) < b;
}

std::vector<uint64_t> node_order(uint64_t count) {
  std::vector<uint64_t> order(count);
  for (uint64_t position = 0; position < count; ++position) order[position] = position;
  if (count > kSixDigitIds) std::sort(order.begin(), order.end(), node_id_less);
  return order;
}

Result<void> write_conversations(Sink& sink,
                                 const std::vector<Conversation>& conversations) {
  JsonWriter out(&sink, JsonLayout::Compact);
  std::string message_id;
  out.begin_array();
  for (const Conversation& conversation : conversations) {
    if (!out.ok()) break;
    write_conversation(out, conversation, message_id);
  }
  out.end_array();
  return out.flush();
}

}  // namespace lorebox
