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
//        for step 6.
//     4. An id missing from the index that is an alias (a resumed or
//        continued session's other id) names the session it stands for.
//     5. The entry is dropped when another session of this source held,
//        before recovery, a user message with exactly this text within 2
//        seconds of it, and its own session held none: Claude Code writes
//        the history line of "/clear" under the id of the session it
//        clears, while the new session's transcript starts with it.
//     6. Any other id missing from the index names a pruned session: rebuild
//        it (title from the title table, redacted when redaction is on;
//        project and created_at from the entry), append it, index it, count
//        it.
//  5. Per session and text, the entries are grouped into prompts (entries
//     within 2 seconds of each other are one prompt written twice), and
//     each message of the session, of either role, with exactly that text
//     stands for the prompt nearest in time to it (history/prompt_copies.h):
//     a prompt typed twice is recovered twice, once the transcript holds it
//     once. A prompt left over is still present when its entry is a Claude
//     Code entry with pasted text and a user message of a session that
//     existed before recovery lies within 2 seconds of it: the transcript
//     holds such a prompt with the pasted text inline, so the texts never
//     match. The first entry of every other prompt is appended, in file
//     order, as a user message (held aside until all entries are done);
//     the target takes the entry's project when it has none; each counts
//     as one recovered prompt.
//  6. The entries set aside rebuild sessions by project and time
//     (history/legacy_history.h).
//  7. Sort the messages of every session (both sources), setting created_at.
//  8. Return (recovered prompts, rebuilt sessions).

#include "history/history_recovery.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "history/history_entry.h"
#include "history/legacy_history.h"
#include "history/prompt_copies.h"
#include "text/cleanup.h"
#include "text/redact.h"
#include "text/utf8.h"

namespace lorebox {

namespace {

// The texts below are views into messages that stay put until recovery
// ends: a session's own messages are not touched until then (moving a
// Session, as the list grows, keeps its messages' storage), and the
// processed entry texts live in a vector filled before any view is taken.
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
};

// An entry kept for step 5: its finished text and its session.
struct Candidate {
  const HistoryEntry* entry;
  std::string text;
  Target* target;  // nodes of an unordered_map stay put
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

// The user messages of this source's sessions before recovery, by text:
// the time and the session's place in the list of each.
using UserPrompts =
    std::unordered_map<std::string_view, std::vector<std::pair<double, size_t>>>;

UserPrompts index_user_prompts(const std::vector<Session>& sessions, SourceKind source) {
  UserPrompts prompts;
  for (size_t i = 0; i < sessions.size(); ++i) {
    if (sessions[i].source != source) continue;
    for (const Message& message : sessions[i].messages)
      if (message.role == Role::User)
        prompts[message.text].emplace_back(message.timestamp, i);
  }
  return prompts;
}

// Step 4.5: the entry belongs to the session that holds it. `target` is
// the entry's session's place in the list, or nothing for a pruned one.
bool held_by_another_session(const UserPrompts& prompts, std::string_view text,
                             double timestamp, std::optional<size_t> target) {
  auto found = prompts.find(text);
  if (found == prompts.end()) return false;
  bool other = false;
  for (const auto& [time, index] : found->second) {
    if (!(std::fabs(time - timestamp) <= kSamePromptWindow)) continue;
    if (index == target) return false;
    other = true;
  }
  return other;
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

// Step 5: which candidates are prompts their session lacks. Candidates are
// grouped by session and text; the session's messages with that text are
// its copies.
std::vector<bool> missing_prompts(const std::vector<Candidate>& candidates,
                                  const std::vector<Session>& sessions) {
  std::map<std::pair<const Target*, std::string_view>, std::vector<size_t>> groups;
  // The lengths of each targeted session's candidate texts: a message of
  // another length cannot be a copy, so it is never hashed.
  std::unordered_map<const Target*, std::vector<size_t>> lengths;
  for (size_t i = 0; i < candidates.size(); ++i) {
    groups[{candidates[i].target, candidates[i].text}].push_back(i);
    lengths[candidates[i].target].push_back(candidates[i].text.size());
  }
  for (auto& [target, sizes] : lengths) std::sort(sizes.begin(), sizes.end());

  // The times of each targeted session's messages, by text, built once per
  // session so that a long history against a long session stays linear.
  std::unordered_map<const Target*,
                     std::unordered_map<std::string_view, std::vector<double>>>
      copies;
  std::vector<bool> missing(candidates.size(), false);
  for (const auto& [key, members] : groups) {
    const Target* target = key.first;
    const Session& session = sessions[target->index];
    auto [held, fresh] = copies.try_emplace(target);
    if (fresh) {
      const std::vector<size_t>& sizes = lengths[target];
      for (size_t i = 0; i < target->original_messages; ++i) {
        const Message& message = session.messages[i];
        if (std::binary_search(sizes.begin(), sizes.end(), message.text.size()))
          held->second[message.text].push_back(message.timestamp);
      }
    }
    auto times = held->second.find(key.second);

    std::vector<double> entry_times;
    for (size_t member : members)
      entry_times.push_back(candidates[member].entry->timestamp);
    PromptCopies prompts = match_prompt_copies(
        entry_times, times == held->second.end() ? std::vector<double>() : times->second);
    for (size_t p = 0; p < prompts.first_entry.size(); ++p) {
      if (prompts.held[p]) continue;
      const HistoryEntry& entry = *candidates[members[prompts.first_entry[p]]].entry;
      if (entry.has_pasted_text && target->existed_before &&
          holds_prompt_near(session, target->original_messages, entry.timestamp))
        continue;
      missing[members[prompts.first_entry[p]]] = true;
    }
  }
  return missing;
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
  const UserPrompts user_prompts = index_user_prompts(sessions, source);

  const std::string prefix = std::string(source_id_prefix(source)) + "-";
  std::vector<LegacyPrompt> legacy;
  std::vector<Candidate> candidates;
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
    std::optional<size_t> place;
    if (found != index.end()) place = found->second.index;
    if (held_by_another_session(user_prompts, *text, entry.timestamp, place)) continue;
    if (found == index.end()) {
      sessions.push_back(rebuilt_session(id, entry, source, titles, options));
      found = index.emplace(std::move(id), Target{sessions.size() - 1, 0, false}).first;
      ++counts.rebuilt_sessions;
    }
    candidates.push_back(Candidate{&entry, std::move(*text), &found->second});
  }

  const std::vector<bool> missing = missing_prompts(candidates, sessions);
  for (size_t i = 0; i < candidates.size(); ++i) {
    if (!missing[i]) continue;
    Candidate& candidate = candidates[i];
    Session& session = sessions[candidate.target->index];
    Message& message = candidate.target->recovered.emplace_back();
    message.text = std::move(candidate.text);
    message.timestamp = candidate.entry->timestamp;
    message.role = Role::User;
    if (!session.project) session.project = candidate.entry->project;
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
