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
#include <unordered_map>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "efficiency/accountant.h"
#include "history/prompt_copies.h"
#include "time/time_text.h"

namespace lorebox {

namespace {

// A pause longer than this starts a new rebuilt session.
constexpr double kSessionGap = 1800.0;
constexpr std::string_view kIdPrefix = "history-";

using Project = std::optional<std::string>;

// The user messages of one project's Claude Code sessions.
struct ProjectPrompts {
  // The times of its user messages by text (views into the sessions).
  std::unordered_map<std::string_view, std::vector<double>> by_text;
  std::vector<double> times;  // all of them, sorted
};

std::map<Project, ProjectPrompts> index_prompts(const std::vector<Session>& sessions) {
  std::map<Project, ProjectPrompts> by_project;
  for (const Session& session : sessions) {
    if (session.source != SourceKind::ClaudeCode) continue;
    ProjectPrompts& prompts = by_project[session.project];
    for (const Message& message : session.messages) {
      if (message.role != Role::User) continue;
      prompts.by_text[message.text].push_back(message.timestamp);
      prompts.times.push_back(message.timestamp);
    }
  }
  for (auto& [project, prompts] : by_project)
    std::sort(prompts.times.begin(), prompts.times.end(), total_order_less);
  return by_project;
}

// True when a user message of the project lies within the pasted-prompt
// window of `t`.
bool prompt_near(const ProjectPrompts& prompts, double t) {
  // Start a little early so that rounding in the subtraction cannot skip a
  // time the exact test below accepts.
  auto near = std::lower_bound(prompts.times.begin(), prompts.times.end(),
                               t - 2 * kPastedPromptWindow);
  for (; near != prompts.times.end() && *near <= t + 2 * kPastedPromptWindow; ++near)
    if (std::fabs(*near - t) <= kPastedPromptWindow) return true;
  return false;
}

// What step 1 makes of a prompt.
enum class Fate { Held, Missing, Repeat };

// Step 1, for every prompt: grouped by project and text, each group's
// entries are matched against the project's user messages with that text.
std::vector<Fate> legacy_fates(const std::vector<Session>& sessions,
                               const std::vector<LegacyPrompt>& prompts) {
  const std::map<Project, ProjectPrompts> by_project = index_prompts(sessions);
  std::map<std::pair<Project, std::string_view>, std::vector<size_t>> groups;
  for (size_t i = 0; i < prompts.size(); ++i)
    groups[{prompts[i].entry->project, prompts[i].text}].push_back(i);

  std::vector<Fate> fates(prompts.size(), Fate::Held);
  const ProjectPrompts none;
  for (const auto& [key, members] : groups) {
    auto project = by_project.find(key.first);
    const ProjectPrompts& held = project == by_project.end() ? none : project->second;
    auto times = held.by_text.find(key.second);
    std::vector<double> entry_times;
    for (size_t member : members) entry_times.push_back(prompts[member].entry->timestamp);
    PromptCopies copies = match_prompt_copies(
        entry_times, times == held.by_text.end() ? std::vector<double>() : times->second);
    for (size_t p = 0; p < copies.first_entry.size(); ++p) {
      const HistoryEntry& first = *prompts[members[copies.first_entry[p]]].entry;
      if (!copies.held[p] && first.has_pasted_text && prompt_near(held, first.timestamp))
        copies.held[p] = true;
    }
    for (size_t m = 0; m < members.size(); ++m) {
      size_t p = copies.prompt_of[m];
      if (copies.held[p]) continue;
      fates[members[m]] = copies.first_entry[p] == m ? Fate::Missing : Fate::Repeat;
    }
  }
  return fates;
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
};

}  // namespace

RecoveryCounts rebuild_legacy_sessions(std::vector<Session>& sessions,
                                       const std::vector<LegacyPrompt>& prompts) {
  RecoveryCounts counts;
  if (prompts.empty()) return counts;

  // A repeat adds no message, but its time still counts for the gaps.
  struct Rest {
    const LegacyPrompt* prompt;
    bool repeat;
  };
  std::vector<Rest> rest;
  {
    const std::vector<Fate> fates = legacy_fates(sessions, prompts);
    for (size_t i = 0; i < prompts.size(); ++i)
      if (fates[i] != Fate::Held)
        rest.push_back(Rest{&prompts[i], fates[i] == Fate::Repeat});
  }
  std::stable_sort(rest.begin(), rest.end(), [](const Rest& a, const Rest& b) {
    return total_order_less(a.prompt->entry->timestamp, b.prompt->entry->timestamp);
  });

  const std::string prefix = std::string(source_id_prefix(SourceKind::ClaudeCode)) + "-";
  std::map<Project, OpenSession> open;
  const size_t first_new = sessions.size();
  for (const auto& [prompt, repeat] : rest) {
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
    if (repeat) continue;
    sessions[current.index].messages.push_back(
        Message{prompt->text, std::nullopt, entry.timestamp, Role::User});
    ++counts.recovered_prompts;
  }
  for (size_t i = first_new; i < sessions.size(); ++i) sort_messages(sessions[i]);
  return counts;
}

}  // namespace lorebox
