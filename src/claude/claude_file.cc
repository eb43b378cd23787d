// Reading one Claude Code transcript line into the file's working state.
//
// Every line that parses to a JSON object:
//   1. While unknown, the first "sessionId" string becomes the native id and
//      the first "cwd" string the working directory; later "sessionId"s that
//      differ from it are kept as the file's other ids.
//   2. The string "type" decides the rest (read_object is the one place
//      that dispatches on it): "user" and "assistant" are message lines,
//      "ai-title" replaces the file title with its "aiTitle", "attachment"
//      may carry a queued prompt, "queue-operation" replays the prompt queue
//      (prompt_queue.h), "custom-title" and "summary" are kept for the
//      stored titles (stored_titles.h); any other type, or none, is ignored.
//      The "uuid" of every user, assistant, attachment, system and progress
//      line is kept too: a summary names the session it titles by one.
// A message line:
//   1. A side-chain line is dropped whole (no accounting either) unless
//      subagents are included; so is, even then, a side-chain "Warmup"
//      prompt and every side-chain line descending from it.
//   The line's identity is its "forkedFrom"."messageUuid", else its "uuid";
//   it is marked as a copy when it carries "forkedFrom" or
//   "sessionKind":"bg". Lines with an identity (and all assistant lines,
//   usage on) are remembered with what they added to the accounting, so
//   that copies can be found across files and sessions (continuations.h).
//   2. With usage on, the line is accounted before anything else: the tool
//      results of a user line; the turn, tokens and tool calls of an
//      assistant line (a response split over several lines counts once, see
//      response_ledger.h). A line whose identity was already accounted in
//      the file adds no tool calls, results or failures.
//   3. A user line: meta lines and lines without "message"."content" are
//      dropped. Array content joins its text blocks with "\n"; string content
//      is taken unless "promptSource" is a string other than "queued" or
//      "typed"; any other content is dropped. A slash command becomes its
//      command prompt and skips the noise test; other text must not be noise.
//   4. An assistant line: dropped when replies are left out, when it is an
//      API error notice or has no content; its text blocks must not be noise.
//   5. The line's "timestamp" must be a string the timestamp parser accepts.
//   6. The text is redacted (when on) and truncated; an empty result is
//      dropped.
//   7. A reply's model is "message"."model", else "slug", and none when the
//      chosen text begins with "<".
//   8. The message joins the file's messages.
// An "attachment" line whose attachment is a queued command typed by a human
// becomes a queued prompt (its own timestamp, else the line's, and the
// line's identity when it has one); the sidechain rule and accounting do not
// apply to it. append_queued_prompts merges the
// queued prompts in at the end of the file.
// While a queued text may be pending, every user line (packed or not) and
// every queued-command attachment is also handed to the queue as a possible
// carrier of it; take_delivered_prompts then keeps the prompts that reached
// the model through the queue alone.
#include "claude/claude_file.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "efficiency/accountant.h"
#include "json/compact.h"
#include "json/text_blocks.h"
#include "scan/json_lines.h"
#include "text/cleanup.h"
#include "time/timestamp.h"

namespace lorebox {

namespace {

using json::Element;

// The members of a line the reader consults, and those of its "message",
// each found in one pass (json::MemberTable).
enum LineKey : size_t {
  kSessionId,
  kCwd,
  kType,
  kAiTitle,
  kIsSidechain,
  kMessage,
  kIsMeta,
  kPromptSource,
  kIsApiErrorMessage,
  kTimestamp,
  kRequestId,
  kSlug,
  kAttachment,
  kUuid,
  kForkedFrom,
  kSessionKind,
  kLineKeyCount,
};
constexpr std::string_view kLineKeys[] = {
    "sessionId",         "cwd",       "type",       "aiTitle",
    "isSidechain",       "message",   "isMeta",     "promptSource",
    "isApiErrorMessage", "timestamp", "requestId",  "slug",
    "attachment",        "uuid",      "forkedFrom", "sessionKind",
};
static_assert(std::size(kLineKeys) == kLineKeyCount);
static_assert(kLineKeyCount <= json::MemberTable::kMaxKeys);
enum MessageKey : size_t { kContent, kUsage, kId, kModel, kMessageKeyCount };
constexpr std::string_view kMessageKeys[] = {"content", "usage", "id", "model"};
static_assert(std::size(kMessageKeys) == kMessageKeyCount);

// The line types of the conversation itself, whose "uuid"s a summary's
// "leafUuid" may name.
bool is_conversation_line(std::string_view type) {
  return type == "user" || type == "assistant" || type == "attachment" ||
         type == "system" || type == "progress";
}

// True when the value is present and the JSON literal true.
bool is_set(std::optional<Element> value) { return value && json::is_true(*value); }

// True when the object's member is the JSON literal true.
bool flag_set(Element object, std::string_view key) {
  return is_set(json::member(object, key));
}

// True when the value is an object whose "type" is the string `type`.
bool has_type(Element block, std::string_view type) {
  std::optional<std::string_view> value = json::string_member(block, "type");
  return value && *value == type;
}

// Writes into *out the "text" strings of the content's text blocks joined
// with "\n"; content that is not an array, or has no text block, gives the
// empty text.
void join_text_blocks(Element content, std::string* out) {
  out->clear();
  json::append_text_blocks(
      content, [](std::string_view type) { return type == "text"; }, out);
}

// The four token counters of a usage object.
enum UsageKey : size_t { kInput, kOutput, kCacheRead, kCacheWrite, kUsageKeyCount };
constexpr std::string_view kUsageKeys[] = {"input_tokens", "output_tokens",
                                           "cache_read_input_tokens",
                                           "cache_creation_input_tokens"};
static_assert(std::size(kUsageKeys) == kUsageKeyCount);

// One token counter: a non-negative JSON integer, else 0.
uint64_t token_counter(const json::MemberTable& usage, UsageKey key) {
  std::optional<Element> value = usage.get(key);
  if (!value) return 0;
  return json::non_negative_integer(*value).value_or(0);
}

// The model of a reply: "message"."model", else the line's "slug"; none when
// neither is a string or the chosen one begins with "<" ("<synthetic>").
std::optional<std::string> reply_model(const json::MemberTable& line,
                                       const json::MemberTable& message) {
  std::optional<std::string_view> model = message.get_string(kModel);
  if (!model) model = line.get_string(kSlug);
  if (!model || model->starts_with('<')) return std::nullopt;
  return std::string(*model);
}

}  // namespace

ClaudeLineReader::ClaudeLineReader(const PackOptions& options)
    : options_(options), line_(kLineKeys), message_(kMessageKeys) {}

void ClaudeLineReader::read_lines(LineReader& lines, ClaudeFile* file) {
  json::JsonLines json_lines(lines, parser_);
  std::string_view line;
  while (json_lines.next(&line)) {
    if (std::optional<Element> parsed = json_lines.parse()) read_object(*parsed, file);
  }
}

void ClaudeLineReader::read_line(std::string_view line, ClaudeFile* file) {
  if (std::optional<Element> parsed = parser_.parse_padded(line))
    read_object(*parsed, file);
}

void ClaudeLineReader::read_object(Element object, ClaudeFile* file) {
  if (!line_.read(object)) return;

  if (auto id = line_.get_string(kSessionId)) {
    if (!file->native_id) {
      file->native_id.emplace(*id);
    } else if (*id != *file->native_id &&
               std::find(file->other_ids.begin(), file->other_ids.end(), *id) ==
                   file->other_ids.end()) {
      // A line copied from, or continued under, another session.
      file->other_ids.emplace_back(*id);
    }
  }
  if (!file->working_directory) {
    if (auto cwd = line_.get_string(kCwd)) file->working_directory.emplace(*cwd);
  }

  // Every line type the reader reads is dispatched here.
  std::optional<std::string_view> type = line_.get_string(kType);
  if (!type) return;
  if (is_conversation_line(*type)) {
    // Any of these may be the leaf a summary names.
    if (auto uuid = line_.get_string(kUuid))
      file->titles.uuids.push_back(line_identity(*uuid));
  }
  if (*type == "user" || *type == "assistant") {
    read_message_line(*type == "user", object, file);
  } else if (*type == "ai-title") {
    if (auto title = line_.get_string(kAiTitle)) file->title.emplace(*title);
  } else if (*type == "attachment") {
    read_queued_command(file);
  } else if (*type == "queue-operation") {
    read_queue_operation(object, file);
  } else if (*type == "custom-title") {
    if (auto title = json::string_member(object, "customTitle")) {
      std::optional<std::string> native;
      if (auto id = line_.get_string(kSessionId)) native.emplace(*id);
      file->titles.custom.push_back(CustomTitle{std::move(native), std::string(*title)});
    }
  } else if (*type == "summary") {
    auto summary = json::string_member(object, "summary");
    auto leaf = json::string_member(object, "leafUuid");
    if (summary && leaf) {
      file->titles.summary.push_back(
          SummaryTitle{line_identity(*leaf), std::string(*summary)});
    }
  }
}

void ClaudeLineReader::read_queue_operation(Element object, ClaudeFile* file) {
  std::optional<std::string_view> operation = json::string_member(object, "operation");
  if (!operation) return;
  std::optional<std::string_view> content = json::string_member(object, "content");
  PromptQueue& queue = file->queue;
  if (*operation == "enqueue") {
    FileLine mark;
    mark_line(&mark);
    queue.enqueue(content, line_.get_string(kTimestamp), mark.marked);
  } else if (*operation == "dequeue") {
    queue.dequeue();
  } else if (*operation == "remove") {
    queue.remove();
  } else if (*operation == "popAll") {
    queue.pop_all(content);
  }
}

void ClaudeLineReader::carry_queued_text(std::string_view text, ClaudeFile* file) {
  // A queued slash command comes back as a command-name element.
  if (std::optional<std::string> command = command_prompt(text)) {
    file->queue.carry(*command);
  } else {
    file->queue.carry(text);
  }
}

void ClaudeLineReader::read_message_line(bool is_user, Element object, ClaudeFile* file) {
  // 1. Side chains.
  const bool side_chain = is_set(line_.get(kIsSidechain));
  if (side_chain && !options_.include_subagents) return;

  // A "message" that is missing or not an object has no members.
  if (std::optional<Element> message = line_.get(kMessage)) {
    message_.read(*message);
  } else {
    message_.clear();
  }
  if (side_chain && is_warmup_chain(is_user, object, file)) return;

  // The line's identity and copy mark; a line that may be a copy is
  // remembered whether or not it yields a message.
  FileLine line;
  mark_line(&line);
  const bool remembered = line.has_identity || (!is_user && options_.include_usage);

  // 2. Accounting comes first: a line counts whether or not it yields text.
  if (options_.include_usage) account_line(is_user, &line, file);
  if (remembered) file->lines.push_back(line);

  std::optional<Element> content = message_.get(kContent);
  std::string_view text;
  std::optional<std::string> command;
  if (is_user) {
    // 3. What the person typed.
    if (!content) return;
    bool typed = !is_set(line_.get(kIsMeta));
    if (json::is_array(*content)) {
      join_text_blocks(*content, &text_);
      text = text_;
    } else if (std::optional<std::string_view> plain = json::as_string(*content)) {
      std::optional<std::string_view> source = line_.get_string(kPromptSource);
      if (source && *source != "queued" && *source != "typed") typed = false;
      text = *plain;
    } else {
      return;
    }
    // Whether packed or not, the line carries its text to the model.
    if (file->queue.wants_carriers()) carry_queued_text(text, file);
    if (!typed) return;
    command = command_prompt(text);
    if (command) {
      text = *command;
    } else if (is_claude_noise(text)) {
      return;
    }
  } else {
    // 4. What the assistant answered.
    if (!options_.include_assistant || is_set(line_.get(kIsApiErrorMessage)) ||
        !content) {
      return;
    }
    join_text_blocks(*content, &text_);
    text = text_;
    if (is_claude_noise(text)) return;
  }

  // 5. Timestamp.
  std::optional<std::string_view> stamp = line_.get_string(kTimestamp);
  if (!stamp) return;
  std::optional<double> timestamp = parse_timestamp(*stamp);
  if (!timestamp) return;

  // 6. Redaction and truncation.
  std::optional<std::string> finished =
      finish_message(text, options_.redact, options_.max_message_chars);
  if (!finished) return;

  // 7, 8. Model and message.
  Message message;
  message.text = std::move(*finished);
  message.timestamp = *timestamp;
  message.role = is_user ? Role::User : Role::Assistant;
  if (!is_user) message.model = reply_model(line_, message_);
  message.has_identity = line.has_identity;
  message.identity = line.identity;
  file->messages.push_back(std::move(message));
}

bool ClaudeLineReader::is_warmup_chain(bool is_user, Element object, ClaudeFile* file) {
  // Claude Code 2.0 opens subagent side chains with a "Warmup" prompt that
  // only fills the prompt cache; it and every side-chain line below it
  // (through "parentUuid") are not part of any conversation.
  std::optional<std::string_view> uuid = line_.get_string(kUuid);
  bool in_chain = false;
  if (std::optional<std::string_view> parent =
          json::string_member(object, "parentUuid")) {
    in_chain = !file->warmup.empty() && file->warmup.contains(std::string(*parent));
  }
  if (!in_chain && is_user) {
    if (std::optional<Element> content = message_.get(kContent)) {
      if (std::optional<std::string_view> plain = json::as_string(*content)) {
        in_chain = *plain == "Warmup";
      } else {
        join_text_blocks(*content, &text_);
        in_chain = text_ == "Warmup";
      }
    }
  }
  if (in_chain && uuid) file->warmup.emplace(*uuid);
  return in_chain;
}

void ClaudeLineReader::mark_line(FileLine* line) const {
  // A copy made by a fork names the line it was copied from; other copies
  // keep the line's own "uuid".
  std::optional<std::string_view> identity;
  std::optional<Element> forked = line_.get(kForkedFrom);
  if (forked) identity = json::string_member(*forked, "messageUuid");
  if (!identity) identity = line_.get_string(kUuid);
  if (identity) {
    line->has_identity = true;
    line->identity = line_identity(*identity);
  }
  std::optional<std::string_view> kind = line_.get_string(kSessionKind);
  line->marked = (forked && json::is_object(*forked)) || (kind && *kind == "bg");
}

void ClaudeLineReader::account_line(bool is_user, FileLine* line, ClaudeFile* file) {
  line->accounted = true;
  if (!is_user) account_assistant_tokens(line, file);

  // Tools, tool results and failures count once per identity: a replayed
  // copy of a line adds none.
  if (line->has_identity && !file->accounted.insert(line->identity).second) return;
  if (!line->has_identity) {
    if (is_user) {
      account_user_line(&file->accounting);
    } else {
      account_assistant_tools(&file->accounting);
    }
    return;
  }
  // A line with identity is counted on its own first, so that what it added
  // can be taken back if the line turns out to be a copy; repeats are still
  // found against the whole file.
  line_record_ = SessionEfficiency();
  std::swap(line_record_.call_fingerprints, file->accounting.call_fingerprints);
  if (is_user) {
    account_user_line(&line_record_);
  } else {
    account_assistant_tools(&line_record_);
  }
  std::swap(line_record_.call_fingerprints, file->accounting.call_fingerprints);
  if (line_record_.tool_calls == 0 && line_record_.failed_calls == 0 &&
      line_record_.tool_result_bytes == 0 && line_record_.commands.empty())
    return;
  merge_into(file->accounting, line_record_);
  line->charge = static_cast<uint32_t>(file->charges.size());
  file->charges.push_back(line_charge(line_record_));
}

void ClaudeLineReader::account_user_line(SessionEfficiency* record) {
  std::optional<Element> content = message_.get(kContent);
  if (!content) return;
  json::for_each_element(*content, [record](Element block) {
    if (!has_type(block, "tool_result")) return;
    // Only the size of the result is needed; it is never serialised.
    if (std::optional<Element> result = json::member(block, "content")) {
      record->tool_result_bytes += json::compact_size(*result);
    }
    if (flag_set(block, "is_error")) record->failed_calls += 1;
  });
}

void ClaudeLineReader::account_assistant_tokens(FileLine* line, ClaudeFile* file) {
  SessionEfficiency* record = &file->accounting;
  // A missing usage, or one that is not an object, counts nothing.
  json::MemberTable usage(kUsageKeys);
  if (std::optional<Element> value = message_.get(kUsage)) usage.read(*value);
  TokenUsage tokens;
  tokens.input = token_counter(usage, kInput);
  tokens.output = token_counter(usage, kOutput);
  tokens.cache_read = token_counter(usage, kCacheRead);
  tokens.cache_write = token_counter(usage, kCacheWrite);

  // Lines of one API response share the message id and the request id (a
  // request id that is not a string counts as absent); they are one turn.
  // A line without a message id is a turn of its own.
  std::optional<std::string_view> id = message_.get_string(kId);
  line->assistant = true;
  line->usage = tokens;
  if (id) {
    response_key(*id, line_.get_string(kRequestId), &key_);
    file->responses.count(key_, tokens, record);
    line->response = siphash13(key_) | 1;
  } else {
    record->turns += 1;
    add_usage(tokens, record);
  }
}

void ClaudeLineReader::account_assistant_tools(SessionEfficiency* record) {
  // Every line's own tool calls count, split response or not.
  std::optional<Element> content = message_.get(kContent);
  if (!content) return;
  json::for_each_element(*content, [&](Element block) {
    if (!has_type(block, "tool_use")) return;
    std::string_view name = json::string_member(block, "name").value_or("unknown");
    std::optional<Element> input = json::member(block, "input");
    record_tool_call(*record, name, input);
    if (name == "Bash" && input) {
      if (auto command = json::string_member(*input, "command")) {
        record_command(*record, *command, options_.redact);
      }
    }
  });
}

void ClaudeLineReader::read_queued_command(ClaudeFile* file) {
  std::optional<Element> attachment = line_.get(kAttachment);
  if (!attachment || !json::is_object(*attachment)) return;
  if (!has_type(*attachment, "queued_command")) return;
  std::optional<std::string_view> prompt = json::string_member(*attachment, "prompt");
  if (prompt && file->queue.wants_carriers()) carry_queued_text(*prompt, file);
  std::optional<Element> origin = json::member(*attachment, "origin");
  std::optional<std::string_view> kind;
  if (origin) kind = json::string_member(*origin, "kind");
  if (!kind || *kind != "human") return;
  if (!prompt) return;

  std::optional<std::string_view> stamp = json::string_member(*attachment, "timestamp");
  if (!stamp) stamp = line_.get_string(kTimestamp);
  if (!stamp) return;
  std::optional<double> timestamp = parse_timestamp(*stamp);
  if (!timestamp) return;

  if (is_claude_noise(*prompt)) return;
  std::optional<std::string> finished =
      finish_message(*prompt, options_.redact, options_.max_message_chars);
  if (!finished) return;
  Message message;
  message.text = std::move(*finished);
  message.timestamp = *timestamp;
  message.role = Role::User;
  // A queued prompt takes part in keeping copies once only when its
  // attachment line has an identity.
  FileLine line;
  mark_line(&line);
  if (line.has_identity) {
    message.has_identity = true;
    message.identity = line.identity;
    file->lines.push_back(line);
  }
  file->queued.push_back(std::move(message));
}

void take_delivered_prompts(const PackOptions& options, ClaudeFile* file) {
  for (DeliveredPrompt& prompt : file->queue.take_delivered()) {
    // A notification the agent queued for itself is markup.
    if (is_claude_noise(prompt.text)) continue;
    std::optional<double> timestamp = parse_timestamp(prompt.timestamp);
    if (!timestamp) continue;
    std::optional<std::string> finished =
        finish_message(prompt.text, options.redact, options.max_message_chars);
    if (!finished) continue;
    FileLine line;
    line.marked = prompt.marked;
    line.has_identity = true;
    line.identity =
        line_identity("queue-operation\n" + prompt.timestamp + "\n" + prompt.text);
    Message message;
    message.text = std::move(*finished);
    message.timestamp = *timestamp;
    message.role = Role::User;
    message.has_identity = true;
    message.identity = line.identity;
    file->lines.push_back(line);
    file->delivered.push_back(std::move(message));
  }
}

LineCharge line_charge(const SessionEfficiency& record) {
  LineCharge charge;
  charge.tools.assign(record.tools.begin(), record.tools.end());
  charge.commands.assign(record.commands.begin(), record.commands.end());
  charge.tool_calls = record.tool_calls;
  charge.repeated_calls = record.repeated_calls;
  charge.failed_calls = record.failed_calls;
  charge.tool_result_bytes = record.tool_result_bytes;
  charge.whole_file_reads = record.whole_file_reads;
  return charge;
}

void append_queued_prompts(ClaudeFile* file) {
  if (file->queued.empty()) return;
  // Room for every queued prompt first: the set holds views into the texts
  // of the messages, which must not move while it is in use.
  file->messages.reserve(file->messages.size() + file->queued.size());
  std::unordered_set<std::string_view> typed;
  for (const Message& message : file->messages) {
    if (message.role == Role::User) typed.insert(message.text);
  }
  for (Message& queued : file->queued) {
    if (!typed.contains(queued.text)) file->messages.push_back(std::move(queued));
  }
  file->queued.clear();
}

}  // namespace lorebox
