// Reading the Claude Code transcripts under "{home}/projects" into sessions.
//
//  1. The root is "{claude home}/projects", resolved to its canonical path;
//     a root that is missing or not a directory gives an empty result.
//  2. Walk the root. Unless subagents are included, a file more than two
//     path components below the root (deeper than a file directly inside a
//     project directory) is passed over without being counted as skipped.
//  3. Every file passes the snapshot checks of read_transcripts: a file that
//     fails them is skipped and counted (lenient), or fails the whole read
//     (strict, when a modified-before bound is given).
//  4-8. Every line goes through ClaudeLineReader (claude_file.cc) into the
//     file's working state: ids, title, prompts, replies, queued prompts and
//     accounting. Steps 4 to 9.4 depend on the file alone, so they run on
//     the thread that reads the file; recording the stamp (9.4) and merging
//     (9.5) run in walk order on the calling thread.
//  9. At the end of a file:
//     1. queued prompts the file does not already hold as prompts are added;
//        prompts that reached the model only through the file's queue are
//        set aside for the session;
//     2. read_transcripts verifies the file again (strict mode); a failure
//        there discards the whole result;
//     3. a file without messages contributes nothing but its custom
//        titles and summaries;
//     4. otherwise the session id is "claude-" and the native id, or the file
//        name without its last extension, and the file's stamp is recorded
//        with that id;
//     5. the file is merged into the session of that id: the first file sets
//        the project, a title is taken while the session has none (redacted
//        when redaction is on), accounting is summed (a split response still
//        counts once per session), messages are appended.
// 10. Each session's queue prompts join its messages unless another of its
//     files carries them; custom titles and summaries gathered from every
//     file become titles (stored_titles.h). Sessions come out in ascending
//     byte order of id, each with its messages sorted and created_at set.
#include "claude/claude_reader.h"

#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "claude/claude_file.h"
#include "claude/response_ledger.h"
#include "claude/session_lines.h"
#include "claude/stored_titles.h"
#include "efficiency/accountant.h"
#include "scan/transcript_name.h"
#include "scan/transcripts.h"
#include "text/redact.h"
#include "text/utf8.h"

namespace lorebox {

namespace {

// Deepest transcript read without subagents: "{project}/{file}".
constexpr size_t kTopLevelDepth = 2;

// A session being built, with the responses already counted into it and
// the lines that may be copies.
struct SessionEntry {
  Session session;
  ResponseLedger responses;
  SessionLineLog lines;
  // Prompts that reached the model only through a file's queue; they join
  // the messages once every file of the session is in.
  std::vector<Message> delivered;
};

using SessionTable = std::map<std::string, SessionEntry>;

}  // namespace

size_t path_depth(std::string_view relative_path) {
  size_t depth = 0;
  bool in_component = false;
  for (char c : relative_path) {
    if (c == '/') {
      in_component = false;
    } else if (!in_component) {
      in_component = true;
      ++depth;
    }
  }
  return depth;
}

std::string file_name_session_id(std::string_view path) {
  std::string id = "claude-";
  id += lossy_utf8(transcript_stem(path));
  return id;
}

namespace {

// Step 9.5: merges a finished file into the session `id`.
void merge_file(ClaudeFile&& file, const std::string& id, bool redact,
                SessionTable* sessions) {
  auto [slot, created] = sessions->try_emplace(id);
  SessionEntry& entry = slot->second;
  Session& session = entry.session;
  if (created) {
    session.id = id;
    session.project = std::move(file.working_directory);
    session.created_at = file.messages.empty() ? file.delivered.front().timestamp
                                               : file.messages.front().timestamp;
    session.source = SourceKind::ClaudeCode;
  }
  entry.delivered.insert(entry.delivered.end(),
                         std::make_move_iterator(file.delivered.begin()),
                         std::make_move_iterator(file.delivered.end()));
  if (!session.title && file.title) {
    session.title = redact ? redact_secrets(*file.title) : std::move(*file.title);
  }
  std::vector<Message> messages = std::move(file.messages);
  SessionEfficiency accounting = std::move(file.accounting);
  ResponseLedger responses = std::move(file.responses);
  entry.lines.absorb(std::move(file), &accounting);
  merge_into(session.efficiency, accounting);
  entry.responses.absorb(std::move(responses), &session.efficiency);
  session.messages.insert(session.messages.end(),
                          std::make_move_iterator(messages.begin()),
                          std::make_move_iterator(messages.end()));
}

// Step 10, before sorting: the prompts a session's queues delivered join its
// messages, except those a user message of another of its files (at or
// after the enqueue time) already holds; within a file the queue has
// already left out what a later line carries.
void add_delivered_prompts(SessionEntry* entry) {
  if (entry->delivered.empty()) return;
  std::vector<Message>& messages = entry->session.messages;
  const size_t typed = messages.size();
  for (Message& prompt : entry->delivered) {
    bool carried = false;
    for (size_t i = 0; i < typed && !carried; ++i) {
      const Message& message = messages[i];
      carried = message.role == Role::User && message.timestamp >= prompt.timestamp &&
                message.text == prompt.text;
    }
    if (!carried) messages.push_back(std::move(prompt));
  }
  entry->delivered.clear();
}

// Step 9.5, history aliases: the file's other "sessionId"s and its name
// stand for the session it merged into; the first file to name an alias
// keeps it.
void add_aliases(const ClaudeFile& file, std::string_view path, const std::string& id,
                 SessionAliases* aliases) {
  const std::string_view native =
      std::string_view(id).substr(std::string_view("claude-").size());
  for (const std::string& other : file.other_ids) {
    if (other != native) aliases->try_emplace(other, id);
  }
  const std::string named = file_name_session_id(path);
  const std::string_view stem =
      std::string_view(named).substr(std::string_view("claude-").size());
  if (stem != native) aliases->try_emplace(std::string(stem), id);
}

// The file name of a compaction agent's transcript: it summarises the
// conversation for the model and holds nothing anybody typed.
bool is_compaction_agent(std::string_view relative_path) {
  const size_t slash = relative_path.rfind('/');
  const std::string_view name =
      slash == std::string_view::npos ? relative_path : relative_path.substr(slash + 1);
  return name.starts_with("agent-acompact-");
}

}  // namespace

Result<SourceScan> read_claude_sessions(const std::filesystem::path& claude_home,
                                        const PackOptions& options,
                                        const ReadingContext& context) {
  SourceScan scan;

  // 1. The root.
  std::optional<std::string> root = canonical_root(claude_home / "projects");
  if (!root) return scan;

  // 2. The subagent depth rule.
  AcceptFn accept = [&options](std::string_view relative_path) {
    if (is_compaction_agent(relative_path)) return false;
    return options.include_subagents || path_depth(relative_path) <= kTopLevelDepth;
  };

  // 3-9. Snapshot checks in read_transcripts; each file's lines and id
  // (4-9.4) on the thread that reads it, with a line reader of that
  // thread's own, and its stamp and merge (9.4-9.5) in walk order here.
  SessionTable sessions;
  StoredTitles titles;
  MakeReadFn make_read = [&]() -> ReadFn {
    auto reader = std::make_shared<ClaudeLineReader>(options);
    return [reader, &options, &scan, &sessions, &titles](
               const FileStamp& stamp, LineReader& lines) -> FileResult {
      auto file = std::make_shared<ClaudeFile>();
      reader->read_lines(lines, file.get());
      append_queued_prompts(file.get());
      take_delivered_prompts(options, file.get());
      if (file->messages.empty() && file->delivered.empty()) {
        // No session, but its titles may name other sessions.
        if (file->titles.custom.empty() && file->titles.summary.empty()) return nullptr;
        return
            [file, &titles] { titles.add_file(std::move(file->titles), std::nullopt); };
      }
      std::string id = file->native_id ? "claude-" + *file->native_id
                                       : file_name_session_id(stamp.path);
      return [file, id = std::move(id), stamp, &options, &scan, &sessions, &titles] {
        scan.sources.push_back(StampedSource{stamp, id});
        add_aliases(*file, stamp.path, id, &scan.aliases);
        titles.add_file(std::move(file->titles), id);
        merge_file(std::move(*file), id, options.redact, &sessions);
      };
    };
  };
  Result<void> walked = read_transcripts(*root, options.modified_before, context,
                                         &scan.skipped_files, accept, make_read);
  if (!walked) return Fail(walked.error());

  // 10. Ascending ids (std::map orders std::string keys by bytes); a copied
  // message merged into its own session again is kept once.
  std::erase_if(scan.aliases, [&sessions](const auto& alias) {
    return sessions.contains("claude-" + alias.first);
  });
  std::vector<LoggedSession> logged;
  logged.reserve(sessions.size());
  for (auto& [id, entry] : sessions) logged.push_back(LoggedSession{&id, &entry.lines});
  scan.shared_lines = shared_lines(logged);
  for (auto& [id, entry] : sessions) add_delivered_prompts(&entry);
  if (!titles.empty()) {
    std::map<std::string, Session*> titled;
    for (auto& [id, entry] : sessions) titled.emplace(id, &entry.session);
    titles.apply(titled, options.redact);
  }
  scan.sessions.reserve(sessions.size());
  for (auto& [id, entry] : sessions) {
    sort_messages(entry.session);
    drop_repeated_messages(&entry.session);
    scan.sessions.push_back(std::move(entry.session));
  }
  return scan;
}

}  // namespace lorebox
