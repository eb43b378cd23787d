#include "claude/stored_titles.h"

#include <unordered_set>
#include <utility>

#include "text/redact.h"
#include "text/utf8.h"

namespace lorebox {

void StoredTitles::add_file(FileTitles&& titles,
                            const std::optional<std::string>& session_id) {
  // An empty title names nothing: an earlier one stands.
  for (CustomTitle& custom : titles.custom) {
    if (trim(custom.text).empty()) continue;
    std::string id;
    if (custom.native_id) {
      id = "claude-" + *custom.native_id;
    } else if (session_id) {
      id = *session_id;
    } else {
      continue;
    }
    custom_.push_back(Custom{std::move(id), std::move(custom.text)});
  }
  for (SummaryTitle& summary : titles.summary) {
    if (!trim(summary.text).empty()) summaries_.push_back(std::move(summary));
  }
  if (session_id && !titles.uuids.empty()) {
    files_.push_back(SessionUuids{*session_id, std::move(titles.uuids)});
  }
}

std::unordered_map<LineIdentity, std::string, LineIdentityHash>
StoredTitles::leaf_owners() const {
  std::unordered_map<LineIdentity, std::string, LineIdentityHash> owners;
  if (summaries_.empty()) return owners;
  std::unordered_set<LineIdentity, LineIdentityHash> leaves;
  for (const SummaryTitle& summary : summaries_) leaves.insert(summary.leaf);

  // Per leaf: the best holder so far and whether its file ends with the leaf.
  struct Holder {
    const std::string* session_id;
    bool ends_file;
  };
  std::unordered_map<LineIdentity, Holder, LineIdentityHash> holders;
  for (const SessionUuids& file : files_) {
    for (size_t i = 0; i < file.uuids.size(); ++i) {
      const LineIdentity& uuid = file.uuids[i];
      if (!leaves.contains(uuid)) continue;
      const Holder candidate{&file.session_id, i + 1 == file.uuids.size()};
      auto [slot, inserted] = holders.try_emplace(uuid, candidate);
      if (inserted) continue;
      Holder& best = slot->second;
      // The session the line ends is the one the summary titled; among
      // equals the least id, so that the choice never depends on the order
      // of the files.
      if (candidate.ends_file != best.ends_file) {
        if (candidate.ends_file) best = candidate;
      } else if (*candidate.session_id < *best.session_id) {
        best = candidate;
      }
    }
  }
  for (const auto& [leaf, holder] : holders) owners.emplace(leaf, *holder.session_id);
  return owners;
}

void StoredTitles::apply(std::map<std::string, Session*>& sessions, bool redact) const {
  auto set_title = [&](Session* session, const std::string& text) {
    session->title = redact ? redact_secrets(text) : text;
  };
  // Summaries first: a title already there (the agent's own) and a custom
  // title both take precedence.
  std::map<std::string, const std::string*> summary_titles;
  const auto owners = leaf_owners();
  for (const SummaryTitle& summary : summaries_) {
    auto owner = owners.find(summary.leaf);
    if (owner != owners.end()) summary_titles[owner->second] = &summary.text;
  }
  for (const auto& [id, text] : summary_titles) {
    auto session = sessions.find(id);
    if (session == sessions.end()) continue;
    const std::optional<std::string>& title = session->second->title;
    if (!title || trim(*title).empty()) set_title(session->second, *text);
  }
  std::map<std::string, const std::string*> custom_titles;
  for (const Custom& custom : custom_) custom_titles[custom.session_id] = &custom.text;
  for (const auto& [id, text] : custom_titles) {
    auto session = sessions.find(id);
    if (session != sessions.end()) set_title(session->second, *text);
  }
}

}  // namespace lorebox
