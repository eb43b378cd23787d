// Reading a Codex home, in this order:
//
//  1. Title table: the session index as the caller read it, unless a
//     modified-before bound is given (then no session gets a stored title).
//  2. Roots: "sessions", then "archived_sessions"; a root that is missing or
//     not a directory is passed over.
//  3. Walk each root; every file that passes the name rule is a rollout
//     (there is no depth rule: background threads are told by their
//     contents). The ".json" files directly in "sessions" are session
//     documents of the first, TypeScript Codex, read whole (step 8).
//  4. The snapshot checks settle, admit and open each file; a file that
//     fails is skipped and counted, or in strict mode ends the read.
//  5. Read each line. When the file's first object is a bare header (a
//     string "id", an accepted "timestamp", no "type" and no "payload"),
//     the rollout predates the record envelope: the header's id is the
//     thread id, every later object with a string "type" and no
//     "record_type" is a response item at the header's time (step 5.5), and
//     the working directory comes from the first environment block a user
//     item carries. Otherwise, lines that are not one JSON object, or lack
//     a "payload" or a string "type", are ignored. By "type":
//     1. "session_meta", the first one only: thread id, meta session id,
//        working directory, and the background-thread flag.
//     2. "turn_context": a string "model" becomes the current model.
//     3. "event_msg" token_count (usage on): the running totals replace the
//        file's token counters and count one turn.
//     4. "compacted": the user prompts of the replacement history.
//     5. "response_item": tool calls and their output are accounted (usage
//        on); user and assistant messages are de-duplicated by item id,
//        cleaned, timed, finished and kept.
//  6. End of file: compacted prompts not already present join the messages;
//     a file with messages that is not a left-out background thread becomes
//     one session, identified by its thread id, meta session id or file
//     name, and titled from the table.
//  7. Return the sessions in reading order; they are never merged by id,
//     except that a session document whose messages another document
//     continues is dropped (codex/document_sessions.h).
//  8. A session document is one JSON value,
//     {"session":{"id","timestamp",…},"items":[…]}: every object in
//     "items" is a response item at the session's time (step 5.5), and the
//     session's id is the thread id. Anything else in a ".json" file gives
//     nothing.
//
// Steps 4 to 6 depend on the file alone, so they run on the thread that
// reads the file, each with a RolloutReader of its own; the session a file
// gives joins the result in walk order on the calling thread.
//
// The per-line work is the hot path of a run: the parser, the per-file state
// and the text buffers are reused from line to line and file to file, tool
// output is measured without being written out, and lines of types the
// reader ignores cost one parse and two member lookups.

#include "codex/codex_reader.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "codex/content_text.h"
#include "codex/document_sessions.h"
#include "codex/environment_cwd.h"
#include "codex/rollout_name.h"
#include "codex/session_index.h"
#include "codex/shell_commands.h"
#include "efficiency/accountant.h"
#include "json/compact.h"
#include "json/line_parser.h"
#include "json/value.h"
#include "scan/json_lines.h"
#include "scan/transcripts.h"
#include "session/session.h"
#include "text/cleanup.h"
#include "text/redact.h"
#include "text/utf8.h"
#include "time/timestamp.h"

namespace lorebox {

namespace {

using json::Element;

// What one rollout file has given so far; cleared when the next file opens.
struct RolloutState {
  bool meta_seen = false;
  std::optional<std::string> thread_id;
  std::optional<std::string> meta_session_id;
  std::optional<std::string> cwd;
  bool background_thread = false;
  std::optional<std::string> model;
  std::vector<Message> messages;
  std::vector<Message> compacted_prompts;
  std::unordered_set<std::string> seen_item_ids;
  SessionEfficiency accounting;
  bool header_checked = false;  // the first object has been looked at
  // Set by a bare header: the time of every item that follows it.
  std::optional<double> bare_time;
  bool environment_seen = false;  // a bare rollout's first environment block

  void clear() {
    meta_seen = false;
    thread_id.reset();
    meta_session_id.reset();
    cwd.reset();
    background_thread = false;
    model.reset();
    messages.clear();
    compacted_prompts.clear();
    seen_item_ids.clear();  // keeps its buckets for the next file
    accounting = SessionEfficiency();
    header_checked = false;
    bare_time.reset();
    environment_seen = false;
  }
};

std::optional<std::string> owned(std::optional<std::string_view> text) {
  if (!text) return std::nullopt;
  return std::string(*text);
}

// True when a first "session_meta" payload marks a thread nobody typed into:
// a spawned subagent, or one of Codex's internal threads. Older Codex marks
// spawned agents only by a "source" object with a "subagent" member.
bool is_background_thread(Element payload) {
  std::optional<std::string_view> thread_source =
      json::string_member(payload, "thread_source");
  if (thread_source &&
      (*thread_source == "subagent" || *thread_source == "memory_consolidation"))
    return true;
  std::optional<Element> source = json::member(payload, "source");
  if (!source) return false;
  return json::member(*source, "subagent").has_value() ||
         json::member(*source, "internal").has_value();
}

// The line's "timestamp" when it is a string the timestamp parser accepts.
std::optional<double> line_time(Element line) {
  std::optional<std::string_view> text = json::string_member(line, "timestamp");
  if (!text) return std::nullopt;
  return parse_timestamp(*text);
}

// When a response item happened: the "timestamp" of the record line that
// carries it, or, for an item that stands alone (in a bare rollout or a
// session document), the time of its file's header.
struct ItemTime {
  std::optional<Element> line;
  std::optional<double> fixed;

  std::optional<double> get() const { return line ? line_time(*line) : fixed; }
};

// How the environment block Codex puts before a thread's first prompt
// begins.
constexpr std::string_view kEnvironmentTag = "<environment_context>";

uint64_t count_or_zero(Element usage, std::string_view key) {
  std::optional<Element> value = json::member(usage, key);
  if (!value) return 0;
  return json::non_negative_integer(*value).value_or(0);
}

class RolloutReader {
 public:
  // Both must outlive the reader.
  RolloutReader(const PackOptions& options, const TitleTable& titles)
      : options_(options), titles_(titles) {}
  RolloutReader(const RolloutReader&) = delete;
  RolloutReader& operator=(const RolloutReader&) = delete;

  // Steps 5 and 6 (or 8 and 6) for one opened rollout or session document:
  // the session it gives, if any.
  std::optional<Session> read_file(const FileStamp& stamp, LineReader& lines) {
    state_.clear();
    json::JsonLines json_lines(lines, parser_);
    std::string_view text;
    if (lines.whole()) {
      if (json_lines.next(&text)) {
        if (std::optional<Element> document = json_lines.parse())
          read_document(*document);
      }
      return finish_file(stamp);
    }
    while (json_lines.next(&text)) {
      std::optional<Element> line = json_lines.parse();
      if (!line) continue;
      if (state_.bare_time) {
        read_bare_item(*line);
      } else if (!state_.header_checked && json::is_object(*line)) {
        state_.header_checked = true;
        if (!read_bare_header(*line)) read_line(*line);
      } else {
        read_line(*line);
      }
    }
    return finish_file(stamp);
  }

 private:
  // Step 5, for the first object of a file: true, with the thread id and
  // the items' time taken, when it is a bare header.
  bool read_bare_header(Element line) {
    if (json::member(line, "type") || json::member(line, "payload")) return false;
    std::optional<std::string_view> id = json::string_member(line, "id");
    if (!id) return false;
    std::optional<double> time = line_time(line);
    if (!time) return false;
    state_.thread_id = std::string(*id);
    state_.bare_time = time;
    return true;
  }

  // Step 5, after a bare header: "record_type" lines (state snapshots) and
  // objects without a string "type" are passed over.
  void read_bare_item(Element line) {
    if (json::member(line, "record_type")) return;
    if (!json::string_member(line, "type")) return;
    read_response_item(ItemTime{std::nullopt, state_.bare_time}, line);
  }

  // Step 8.
  void read_document(Element document) {
    std::optional<Element> session = json::member(document, "session");
    if (!session) return;
    std::optional<std::string_view> id = json::string_member(*session, "id");
    std::optional<double> time = line_time(*session);
    std::optional<Element> items = json::member(document, "items");
    if (!id || !time || !items || !json::is_array(*items)) return;
    state_.thread_id = std::string(*id);
    json::for_each_element(*items, [&](Element item) {
      if (json::is_object(item)) read_response_item(ItemTime{std::nullopt, time}, item);
    });
  }

  // Step 5.
  void read_line(Element line) {
    std::optional<std::string_view> type = json::string_member(line, "type");
    if (!type) return;
    std::optional<Element> payload = json::member(line, "payload");
    if (!payload) return;
    if (*type == "response_item") {
      read_response_item(ItemTime{line, std::nullopt}, *payload);
    } else if (*type == "event_msg") {
      if (options_.include_usage) read_token_count(*payload);
    } else if (*type == "turn_context") {
      std::optional<std::string_view> model = json::string_member(*payload, "model");
      if (model) state_.model = std::string(*model);
    } else if (*type == "session_meta") {
      read_session_meta(*payload);
    } else if (*type == "compacted") {
      read_compacted(line, *payload);
    }
  }

  // Step 5.1.
  void read_session_meta(Element payload) {
    if (state_.meta_seen) return;
    state_.meta_seen = true;
    state_.thread_id = owned(json::string_member(payload, "id"));
    state_.meta_session_id = owned(json::string_member(payload, "session_id"));
    state_.cwd = owned(json::string_member(payload, "cwd"));
    state_.background_thread = is_background_thread(payload);
  }

  // Step 5.3: totals are running, so each event replaces the counters.
  void read_token_count(Element payload) {
    if (json::string_member(payload, "type") != "token_count") return;
    std::optional<Element> info = json::member(payload, "info");
    if (!info) return;
    std::optional<Element> usage = json::member(*info, "total_token_usage");
    if (!usage) return;
    SessionEfficiency& record = state_.accounting;
    record.turns += 1;
    // count_or_zero gives 0 for every key when usage is not an object.
    record.input = count_or_zero(*usage, "input_tokens");
    record.output = count_or_zero(*usage, "output_tokens");
    record.cache_read = count_or_zero(*usage, "cached_input_tokens");
    record.cache_write = count_or_zero(*usage, "cache_write_input_tokens");
    record.reasoning = count_or_zero(*usage, "reasoning_output_tokens");
  }

  // Step 5.4.
  void read_compacted(Element line, Element payload) {
    std::optional<double> time = line_time(line);
    if (!time) return;
    std::optional<Element> history = json::member(payload, "replacement_history");
    if (!history) return;
    json::for_each_element(*history, [&](Element item) {
      if (json::string_member(item, "type") != "message" ||
          json::string_member(item, "role") != "user")
        return;
      std::optional<Element> content = json::member(item, "content");
      if (!content) return;
      std::optional<std::string> text = finished_user_text(content);
      if (!text) return;
      state_.compacted_prompts.push_back(
          Message{std::move(*text), std::nullopt, *time, Role::User});
    });
  }

  // Step 5.5.
  void read_response_item(const ItemTime& time, Element payload) {
    std::optional<std::string_view> type = json::string_member(payload, "type");
    if (!type) return;
    if (*type == "message") {
      read_message(time, payload);
    } else if (options_.include_usage) {
      if (*type == "function_call" || *type == "custom_tool_call") {
        account_tool_call(payload);
      } else if (*type == "function_call_output" || *type == "custom_tool_call_output") {
        std::optional<Element> output = json::member(payload, "output");
        if (output) state_.accounting.tool_result_bytes += json::compact_size(*output);
      }
    }
  }

  // Step 5.5.1 for a call: the input is "input" (null included), else
  // "arguments", else none.
  void account_tool_call(Element payload) {
    std::optional<std::string_view> name = json::string_member(payload, "name");
    std::optional<Element> input = json::member(payload, "input");
    if (!input) input = json::member(payload, "arguments");
    record_tool_call(state_.accounting, name.value_or("unknown"), input);

    commands_.clear();
    std::optional<Element> arguments;
    extract_commands(command_source(input, &arguments), &commands_);
    // An argv array under "command" comes after the "cmd" commands.
    if (arguments) {
      if (std::optional<std::string> line = argv_command(*arguments))
        commands_.push_back(std::move(*line));
    }
    for (const std::string& command : commands_)
      record_command(state_.accounting, command, options_.redact);
  }

  // Where a call's commands are read: the input's compact text. Codex
  // writes "arguments" and "input" as JSON strings ("{\"cmd\": \"git
  // status\"}") in whose compact text the "cmd" literal never appears (every
  // quotation mark inside is escaped), so their text is not built; when
  // such a string holds a JSON object, the commands come from that
  // object's compact text instead. *arguments is set to the arguments
  // object (the input itself, or the object its string holds) when there
  // is one.
  std::string_view command_source(std::optional<Element> input,
                                  std::optional<Element>* arguments) {
    if (!input) return {};
    if (json::is_object(*input)) *arguments = input;
    std::optional<std::string_view> text = json::as_string(*input);
    if (!text) {
      input_text_.clear();
      json::append_compact(*input, &input_text_);
      return input_text_;
    }
    // Cheap pass-over: without "cmd" or "command" (or a \u escape that could
    // spell them) the parsed object holds neither, and the quoted string
    // never matches.
    if (text->find("cmd") == std::string_view::npos &&
        text->find("command") == std::string_view::npos &&
        text->find("\\u") == std::string_view::npos)
      return {};
    // The inner parser keeps the line's own document alive.
    std::optional<Element> inner = inner_parser_.parse(*text);
    if (!inner || !json::is_object(*inner)) return {};
    *arguments = inner;
    // The literal needs "cmd" inside one of the object's strings; without
    // a \u escape, whatever its strings spell, the string spells too.
    if (text->find("cmd") == std::string_view::npos &&
        text->find("\\u") == std::string_view::npos)
      return {};
    inner_text_.clear();
    json::append_compact(*inner, &inner_text_);
    return inner_text_;
  }

  // Steps 5.5.2 to 5.5.8.
  void read_message(const ItemTime& item_time, Element payload) {
    std::optional<std::string_view> role = json::string_member(payload, "role");
    if (!role) return;
    bool user = *role == "user";
    if (!user && !(*role == "assistant" && options_.include_assistant)) return;
    if (user && state_.bare_time && !state_.environment_seen) read_environment(payload);

    // The id is marked seen before any other test, so an item dropped below
    // still hides its later copies.
    std::optional<std::string_view> id = json::string_member(payload, "id");
    if (id && !state_.seen_item_ids.emplace(*id).second) return;

    // The text and time tests only drop the item, so the cheap one goes
    // first.
    std::optional<double> time = item_time.get();
    if (!time) return;
    std::optional<Element> content = json::member(payload, "content");
    std::optional<std::string> text;
    if (user) {
      text = finished_user_text(content);
    } else {
      content_.clear();
      if (content) append_content_text(*content, &content_);
      text = finish_message(content_, options_.redact, options_.max_message_chars);
    }
    if (!text) return;
    state_.messages.push_back(Message{std::move(*text),
                                      user ? std::nullopt : state_.model, *time,
                                      user ? Role::User : Role::Assistant});
  }

  // Step 5, bare rollouts: the first user item whose raw text begins with
  // an environment block gives the working directory (its "cwd" element or
  // its "Current working directory:" line, when it has one), before cleanup
  // drops the item as internal.
  void read_environment(Element payload) {
    content_.clear();
    if (std::optional<Element> content = json::member(payload, "content"))
      append_content_text(*content, &content_);
    if (!trim_start(content_).starts_with(kEnvironmentTag)) return;
    state_.environment_seen = true;
    state_.cwd = environment_cwd(content_);
  }

  // The text of a user content value, cleaned, tested for internal text and
  // finished; nothing when it is dropped. No content is the empty text.
  std::optional<std::string> finished_user_text(std::optional<Element> content) {
    content_.clear();
    if (content) append_content_text(*content, &content_);
    std::string cleaned = clean_codex_prompt(content_);
    if (is_codex_internal(cleaned)) return std::nullopt;
    return finish_message(cleaned, options_.redact, options_.max_message_chars);
  }

  // Step 6.
  std::optional<Session> finish_file(const FileStamp& stamp) {
    merge_compacted_prompts();
    if (state_.messages.empty()) return std::nullopt;
    if (state_.background_thread && !options_.include_subagents) return std::nullopt;

    std::string native_id;
    if (state_.thread_id) {
      native_id = *state_.thread_id;
    } else if (state_.meta_session_id) {
      native_id = *state_.meta_session_id;
    } else {
      std::string_view path = stamp.path;
      native_id = rollout_name_id(path.substr(path.rfind('/') + 1));
    }
    Session session;
    session.id = std::string(source_id_prefix(SourceKind::Codex)) + "-" + native_id;
    session.messages = std::move(state_.messages);
    sort_messages(session);
    session.title = title();
    session.project = std::move(state_.cwd);
    session.efficiency = std::move(state_.accounting);
    // Fingerprints only matter while their file is read.
    session.efficiency.call_fingerprints = {};
    session.source = SourceKind::Codex;
    return session;
  }

  // Step 6.1: a compacted prompt joins the messages unless a user message of
  // the file or an earlier kept compacted prompt has the same text.
  void merge_compacted_prompts() {
    if (state_.compacted_prompts.empty()) return;
    std::unordered_set<std::string_view> texts;
    for (const Message& message : state_.messages)
      if (message.role == Role::User) texts.insert(message.text);
    std::vector<Message*> kept;
    for (Message& prompt : state_.compacted_prompts)
      if (texts.insert(prompt.text).second) kept.push_back(&prompt);
    // Views into the messages stay valid until here: nothing was appended.
    for (Message* prompt : kept) state_.messages.push_back(std::move(*prompt));
  }

  // Step 6.7, with thread names masked like any typed text when redacting.
  std::optional<std::string> title() const {
    if (options_.modified_before || titles_.empty()) return std::nullopt;
    TitleTable::const_iterator found = titles_.end();
    if (state_.thread_id) found = titles_.find(*state_.thread_id);
    if (found == titles_.end() && state_.meta_session_id)
      found = titles_.find(*state_.meta_session_id);
    if (found == titles_.end()) return std::nullopt;
    if (options_.redact) return redact_secrets(found->second);
    return found->second;
  }

  const PackOptions& options_;
  const TitleTable& titles_;
  json::LineParser parser_;
  json::LineParser inner_parser_;  // for JSON text inside a string member
  RolloutState state_;
  std::string content_;
  std::string input_text_;
  std::string inner_text_;
  std::vector<std::string> commands_;
};

constexpr const char* kRoots[] = {"sessions", "archived_sessions"};

}  // namespace

Result<SourceScan> read_codex_sessions(const std::filesystem::path& codex_home,
                                       const PackOptions& options,
                                       const TitleTable& titles,
                                       const ReadingContext& context) {
  SourceScan scan;
  MakeReadFn make_read = [&]() -> ReadFn {
    auto reader = std::make_shared<RolloutReader>(options, titles);
    return [reader, &scan](const FileStamp& stamp, LineReader& lines) -> FileResult {
      std::optional<Session> session = reader->read_file(stamp, lines);
      if (!session) return nullptr;
      auto kept = std::make_shared<Session>(std::move(*session));
      return [kept, stamp, &scan] {
        scan.sources.push_back(StampedSource{stamp, kept->id});
        scan.sessions.push_back(std::move(*kept));
      };
    };
  };
  for (const char* root_name : kRoots) {
    std::optional<std::string> root = canonical_root(codex_home / root_name);
    if (!root) continue;
    Result<void> read = read_transcripts(
        *root, options.modified_before, context, &scan.skipped_files,
        [](std::string_view) { return true; }, make_read,
        /*root_documents=*/std::string_view(root_name) == kRoots[0]);
    if (!read) return Fail(read.error());
  }
  drop_superseded_documents(&scan);
  return scan;
}

}  // namespace lorebox
