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

std::unordered_map<LineIdentity, StoredTitles::Holder, LineIdentityHash>
StoredTitles::leaf_holders() const {
  std::unordered_map<LineIdentity, Holder, LineIdentityHash> holders;
  if (summaries_.empty()) return holders;
  std::unordered_set<LineIdentity, LineIdentityHash> leaves;
  for (const SummaryTitle& summary : summaries_) leaves.insert(summary.leaf);

  for (size_t f = 0; f < files_.size(); ++f) {
    const SessionUuids& file = files_[f];
    for (size_t i = 0; i < file.uuids.size(); ++i) {
      const LineIdentity& uuid = file.uuids[i];
      if (!leaves.contains(uuid)) continue;
      const Holder candidate{&file.session_id, f, i, i + 1 == file.uuids.size()};
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
  return holders;
}

void StoredTitles::apply(std::map<std::string, Session*>& sessions, bool redact) const {
  auto set_title = [&](Session* session, const std::string& text) {
    session->title = redact ? redact_secrets(text) : text;
  };
  // Summaries first: a title already there (the agent's own) and a custom
  // title both take precedence. A session's summary is that of its latest
  // leaf (the one furthest into its files), and of the summaries of one
  // leaf the last read.
  struct Latest {
    const Holder* leaf;
    const std::string* text;
  };
  std::map<std::string, Latest> summary_titles;
  const auto holders = leaf_holders();
  for (const SummaryTitle& summary : summaries_) {
    auto holder = holders.find(summary.leaf);
    if (holder == holders.end()) continue;
    const Holder& leaf = holder->second;
    auto [slot, inserted] =
        summary_titles.try_emplace(*leaf.session_id, Latest{&leaf, &summary.text});
    const Holder& best = *slot->second.leaf;
    if (!inserted &&
        std::pair(leaf.file, leaf.position) >= std::pair(best.file, best.position)) {
      slot->second = Latest{&leaf, &summary.text};
    }
  }
  for (const auto& [id, latest] : summary_titles) {
    auto session = sessions.find(id);
    if (session == sessions.end()) continue;
    const std::optional<std::string>& title = session->second->title;
    if (!title || trim(*title).empty()) set_title(session->second, *latest.text);
  }
  std::map<std::string, const std::string*> custom_titles;
  for (const Custom& custom : custom_) custom_titles[custom.session_id] = &custom.text;
  for (const auto& [id, text] : custom_titles) {
    auto session = sessions.find(id);
    if (session != sessions.end()) set_title(session->second, *text);
  }
}

}  // namespace lorebox
