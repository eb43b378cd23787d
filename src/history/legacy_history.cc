// Legacy prompts have no session id, so the only hints of which
// conversation they belonged to are their project and their time. Prompts
// close together in one project are taken as one conversation; a half-hour
// pause starts the next, which is also how the agents of that time were
// used (a long idle gap usually meant a new "claude" run).
#include "history/legacy_history.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <string_view>
#include <unordered_set>

#include <fmt/format.h>

#include "efficiency/accountant.h"
#include "time/time_text.h"

namespace lorebox {

namespace {

// A pause longer than this starts a new rebuilt session.
constexpr double kSessionGap = 1800.0;
constexpr std::string_view kIdPrefix = "history-";

using Project = std::optional<std::string>;

// The user messages of one project's Claude Code sessions.
struct ProjectPrompts {
  std::unordered_set<std::string_view> texts;  // views into the sessions
  std::vector<double> times;                   // sorted
};

std::map<Project, ProjectPrompts> index_prompts(const std::vector<Session>& sessions) {
  std::map<Project, ProjectPrompts> by_project;
  for (const Session& session : sessions) {
    if (session.source != SourceKind::ClaudeCode) continue;
    ProjectPrompts& prompts = by_project[session.project];
    for (const Message& message : session.messages) {
      if (message.role != Role::User) continue;
      prompts.texts.insert(message.text);
      prompts.times.push_back(message.timestamp);
    }
  }
  for (auto& [project, prompts] : by_project)
    std::sort(prompts.times.begin(), prompts.times.end(), total_order_less);
  return by_project;
}

// Step 1.
bool already_present(const std::map<Project, ProjectPrompts>& by_project,
                     const LegacyPrompt& prompt) {
  auto found = by_project.find(prompt.entry->project);
  if (found == by_project.end()) return false;
  const ProjectPrompts& prompts = found->second;
  if (prompts.texts.count(prompt.text) != 0) return true;
  if (!prompt.entry->has_pasted_text) return false;
  // Start a little early so that rounding in the subtraction cannot skip a
  // time the exact test below accepts.
  const double t = prompt.entry->timestamp;
  auto near = std::lower_bound(prompts.times.begin(), prompts.times.end(),
                               t - 2 * kPastedPromptWindow);
  for (; near != prompts.times.end() && *near <= t + 2 * kPastedPromptWindow; ++near)
    if (std::fabs(*near - t) <= kPastedPromptWindow) return true;
  return false;
}

// Step 3: "history-" and the hash of the project and the first time.
std::string legacy_id(const Project& project, double first_time) {
  std::string key = project.value_or("");
  key += '\xFF';
  key += time_text(first_time);
  return std::string(kIdPrefix) + fmt::format("{:016x}", siphash13(key));
}

// A project's session being built, and the time of its latest prompt.
struct OpenSession {
  size_t index = 0;  // in `sessions`
  double last_time = 0.0;
  std::unordered_set<std::string> texts;
};

}  // namespace

RecoveryCounts rebuild_legacy_sessions(std::vector<Session>& sessions,
                                       const std::vector<LegacyPrompt>& prompts) {
  RecoveryCounts counts;
  if (prompts.empty()) return counts;

  std::vector<const LegacyPrompt*> rest;
  {
    const std::map<Project, ProjectPrompts> by_project = index_prompts(sessions);
    for (const LegacyPrompt& prompt : prompts)
      if (!already_present(by_project, prompt)) rest.push_back(&prompt);
  }
  std::stable_sort(rest.begin(), rest.end(),
                   [](const LegacyPrompt* a, const LegacyPrompt* b) {
                     return total_order_less(a->entry->timestamp, b->entry->timestamp);
                   });

  const std::string prefix = std::string(source_id_prefix(SourceKind::ClaudeCode)) + "-";
  std::map<Project, OpenSession> open;
  const size_t first_new = sessions.size();
  for (const LegacyPrompt* prompt : rest) {
    const HistoryEntry& entry = *prompt->entry;
    auto found = open.find(entry.project);
    if (found == open.end() || entry.timestamp - found->second.last_time > kSessionGap) {
      Session session;
      session.id = prefix + legacy_id(entry.project, entry.timestamp);
      session.project = entry.project;
      session.created_at = entry.timestamp;
      session.source = SourceKind::ClaudeCode;
      sessions.push_back(std::move(session));
      ++counts.rebuilt_sessions;
      found =
          open.insert_or_assign(entry.project, OpenSession{sessions.size() - 1}).first;
    }
    OpenSession& current = found->second;
    current.last_time = entry.timestamp;
    if (!current.texts.insert(prompt->text).second) continue;
    sessions[current.index].messages.push_back(
        Message{prompt->text, std::nullopt, entry.timestamp, Role::User});
    ++counts.recovered_prompts;
  }
  for (size_t i = first_new; i < sessions.size(); ++i) sort_messages(sessions[i]);
  return counts;
}

}  // namespace lorebox
