// Prompt-history recovery.
//
// Steps, for one source:
//  1. Read the usable entries of "{home}/history.jsonl" in file order.
//  2. No entries: return (0, 0) and change nothing.
//  3. Index the sessions of this source by id (the first of two sessions
//     with one id wins, so exactly one of them receives that id's prompts).
//  4. For each entry, in file order:
//     1. The session id is "{prefix}-{native id}".
//     2. Trim the text; an empty text is ignored.
//     3. Redact it (when redaction is on), then truncate it; an empty result
//        is ignored. A Claude Code entry without a session id is set aside
//        for step 5.
//     4. An id missing from the index that is an alias (a resumed or
//        continued session's other id) names the session it stands for.
//        Any other id missing from the index names a pruned session: rebuild it
//        (title from the title table, redacted when redaction is on; project
//        and created_at from the entry), append it, index it, count it.
//     5. A message of the target, of either role, with exactly this text
//        means the prompt is already there. So does, for a Claude Code entry
//        with pasted text, a user message of a session that existed before
//        recovery within 2 seconds of the entry: the transcript holds such
//        a prompt with the pasted text inline, so the texts never match.
//     6. Otherwise append the prompt as a user message (held aside until
//        all entries are done), give the target the entry's project when it
//        has none, and count one recovered prompt.
//  5. The entries set aside rebuild sessions by project and time
//     (history/legacy_history.h).
//  6. Sort the messages of every session (both sources), setting created_at.
//  7. Return (recovered prompts, rebuilt sessions).

#include "history/history_recovery.h"

#include <cmath>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>

#include "history/history_entry.h"
#include "history/legacy_history.h"
#include "text/cleanup.h"
#include "text/redact.h"
#include "text/utf8.h"

namespace lorebox {

namespace {

// The texts below are views into messages that stay put until recovery
// ends: a session's own messages are not touched until then (moving a
// Session, as the list grows, keeps its messages' storage), and recovered
// prompts wait in a deque, which never moves what it holds.
static_assert(std::is_nothrow_move_constructible_v<Session>,
              "a growing session list must move sessions, not copy them");

// Where a session stands in the list, and how many of its messages it had
// before recovery began.
struct Target {
  size_t index = 0;
  size_t original_messages = 0;
  bool existed_before = false;
  // Its recovered prompts, appended to the session when recovery ends.
  std::deque<Message> recovered;
  // The texts of all its messages, built when the session is first targeted
  // so that a long history against a long session stays linear.
  std::optional<std::unordered_set<std::string_view>> texts;
};

// The entry's text trimmed, redacted and truncated, or nothing when it
// comes out empty at either step.
std::optional<std::string> processed_text(const HistoryEntry& entry,
                                          const PackOptions& options) {
  std::string_view trimmed = trim(entry.text);
  if (trimmed.empty()) return std::nullopt;
  std::string text = options.redact ? redact_secrets(trimmed) : std::string(trimmed);
  text = truncate_message(text, options.max_message_chars);
  if (text.empty()) return std::nullopt;
  return text;
}

bool holds_text(const Session& session, Target& target, std::string_view text) {
  if (!target.texts) {
    target.texts.emplace(session.messages.size());
    for (const Message& message : session.messages) target.texts->insert(message.text);
  }
  return target.texts->count(text) != 0;
}

// True when one of the session's transcript prompts was written within the
// pasted-prompt window of `timestamp`.
bool holds_prompt_near(const Session& session, size_t original_messages,
                       double timestamp) {
  for (size_t i = 0; i < original_messages; ++i) {
    const Message& message = session.messages[i];
    if (message.role == Role::User &&
        std::fabs(message.timestamp - timestamp) <= kPastedPromptWindow)
      return true;
  }
  return false;
}

Session rebuilt_session(std::string id, const HistoryEntry& entry, SourceKind source,
                        const TitleTable& titles, const PackOptions& options) {
  Session session;
  session.id = std::move(id);
  auto title = titles.find(entry.session_id);
  if (title != titles.end())
    session.title = options.redact ? redact_secrets(title->second) : title->second;
  session.project = entry.project;
  session.created_at = entry.timestamp;
  session.source = source;
  return session;
}

}  // namespace

RecoveryCounts recover_from_history(std::vector<Session>& sessions,
                                    const std::filesystem::path& agent_home,
                                    SourceKind source, const TitleTable& titles,
                                    const PackOptions& options,
                                    const SessionAliases& aliases) {
  RecoveryCounts counts;
  std::vector<HistoryEntry> entries = read_history_entries(agent_home, source);
  if (entries.empty()) return counts;

  std::unordered_map<std::string, Target> index;
  for (size_t i = 0; i < sessions.size(); ++i) {
    if (sessions[i].source != source) continue;
    index.emplace(sessions[i].id, Target{i, sessions[i].messages.size(), true});
  }

  const std::string prefix = std::string(source_id_prefix(source)) + "-";
  std::vector<LegacyPrompt> legacy;
  for (const HistoryEntry& entry : entries) {
    std::optional<std::string> text = processed_text(entry, options);
    if (!text) continue;
    if (entry.legacy) {
      legacy.push_back(LegacyPrompt{&entry, std::move(*text)});
      continue;
    }

    std::string id = prefix + entry.session_id;
    auto found = index.find(id);
    if (found == index.end()) {
      auto alias = aliases.find(entry.session_id);
      if (alias != aliases.end()) found = index.find(alias->second);
    }
    if (found == index.end()) {
      sessions.push_back(rebuilt_session(id, entry, source, titles, options));
      found = index.emplace(std::move(id), Target{sessions.size() - 1, 0, false}).first;
      ++counts.rebuilt_sessions;
    }
    Target& target = found->second;
    Session& session = sessions[target.index];

    if (holds_text(session, target, *text)) continue;
    if (entry.has_pasted_text && target.existed_before &&
        holds_prompt_near(session, target.original_messages, entry.timestamp))
      continue;

    Message& message = target.recovered.emplace_back();
    message.text = std::move(*text);
    message.timestamp = entry.timestamp;
    message.role = Role::User;
    target.texts->insert(message.text);
    if (!session.project) session.project = entry.project;
    ++counts.recovered_prompts;
  }

  for (auto& [id, target] : index) {
    std::vector<Message>& messages = sessions[target.index].messages;
    for (Message& message : target.recovered) messages.push_back(std::move(message));
  }
  RecoveryCounts rebuilt = rebuild_legacy_sessions(sessions, legacy);
  counts.recovered_prompts += rebuilt.recovered_prompts;
  counts.rebuilt_sessions += rebuilt.rebuilt_sessions;
  for (Session& session : sessions) sort_messages(session);
  return counts;
}

}  // namespace lorebox
