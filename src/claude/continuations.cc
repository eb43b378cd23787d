#include "claude/continuations.h"

#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "claude/session_lines.h"

namespace lorebox {

namespace {

// Subtracts without going below zero.
void reduce(uint64_t amount, uint64_t* counter) {
  *counter = *counter >= amount ? *counter - amount : 0;
}

// One session holding an identity, and whether its lines with it are
// marked as copies.
struct Holder {
  uint32_t entry;
  bool marked;
};

// The ordering key of a holder, taken before anything is dropped.
struct OwnerKey {
  bool marked;
  double created_at;
  size_t messages;
  std::string_view id;
};

bool owns_before(const OwnerKey& a, const OwnerKey& b) {
  if (a.marked != b.marked) return !a.marked;
  if (total_order_less(a.created_at, b.created_at)) return true;
  if (total_order_less(b.created_at, a.created_at)) return false;
  if (a.messages != b.messages) return a.messages < b.messages;
  return a.id < b.id;
}

using IdentitySet = std::unordered_set<LineIdentity, LineIdentityHash>;

}  // namespace

void settle_copied_lines(const std::vector<SessionLines>& shared,
                         std::vector<Session>* sessions,
                         std::vector<StampedSource>* sources) {
  if (shared.empty()) return;
  std::unordered_map<std::string_view, size_t> position;
  for (size_t i = 0; i < sessions->size(); ++i) {
    const Session& session = (*sessions)[i];
    if (session.source == SourceKind::ClaudeCode) position.emplace(session.id, i);
  }
  // The entries whose session is still there, with their session's place.
  std::vector<size_t> place(shared.size(), SIZE_MAX);
  for (size_t e = 0; e < shared.size(); ++e) {
    auto found = position.find(shared[e].session_id);
    if (found != position.end()) place[e] = found->second;
  }

  // Who holds each identity; a holder is marked when any of its lines with
  // the identity is.
  std::unordered_map<LineIdentity, std::vector<Holder>, LineIdentityHash> holders;
  for (uint32_t e = 0; e < shared.size(); ++e) {
    if (place[e] == SIZE_MAX) continue;
    for (const SharedLine& line : shared[e].lines) {
      std::vector<Holder>& list = holders[line.identity];
      if (!list.empty() && list.back().entry == e) {
        list.back().marked = list.back().marked || line.marked;
      } else {
        list.push_back(Holder{e, line.marked});
      }
    }
  }

  // The identities each entry gives up, with the entry that owns them.
  std::vector<std::unordered_map<LineIdentity, uint32_t, LineIdentityHash>> given_up(
      shared.size());
  for (const auto& [identity, list] : holders) {
    if (list.size() < 2) continue;
    auto key = [&](const Holder& holder) {
      const Session& session = (*sessions)[place[holder.entry]];
      return OwnerKey{holder.marked, session.created_at, session.messages.size(),
                      session.id};
    };
    const Holder* owner = &list.front();
    for (const Holder& holder : list) {
      if (owns_before(key(holder), key(*owner))) owner = &holder;
    }
    for (const Holder& holder : list) {
      if (&holder != owner) given_up[holder.entry].emplace(identity, owner->entry);
    }
  }

  // Messages to drop, decided on the messages as they are now: an owner
  // never drops a message of an identity it owns, so the owners' messages
  // compared with stay as they are.
  std::vector<std::vector<bool>> dropped(shared.size());
  std::unordered_map<uint32_t,
                     std::unordered_multimap<LineIdentity, size_t, LineIdentityHash>>
      owner_messages;
  auto owner_holds = [&](uint32_t owner, const Message& message) {
    auto [slot, built] = owner_messages.try_emplace(owner);
    const std::vector<Message>& messages = (*sessions)[place[owner]].messages;
    if (built) {
      for (size_t i = 0; i < messages.size(); ++i) {
        if (messages[i].has_identity) slot->second.emplace(messages[i].identity, i);
      }
    }
    auto [first, last] = slot->second.equal_range(message.identity);
    for (auto it = first; it != last; ++it) {
      const Message& held = messages[it->second];
      if (held.role == message.role && held.text == message.text) return true;
    }
    return false;
  };
  for (uint32_t e = 0; e < shared.size(); ++e) {
    if (given_up[e].empty()) continue;
    const std::vector<Message>& messages = (*sessions)[place[e]].messages;
    dropped[e].assign(messages.size(), false);
    for (size_t i = 0; i < messages.size(); ++i) {
      const Message& message = messages[i];
      if (!message.has_identity) continue;
      auto owner = given_up[e].find(message.identity);
      if (owner != given_up[e].end()) dropped[e][i] = owner_holds(owner->second, message);
    }
  }

  // Accounting and messages.
  std::unordered_set<std::string> emptied;
  for (uint32_t e = 0; e < shared.size(); ++e) {
    if (given_up[e].empty()) continue;
    const SessionLines& entry = shared[e];
    Session& session = (*sessions)[place[e]];
    SessionEfficiency& record = session.efficiency;
    std::vector<uint64_t> lines_gone(entry.responses.size(), 0);
    for (const SharedLine& line : entry.lines) {
      if (!given_up[e].contains(line.identity)) continue;
      if (line.charge != kNoCharge) take_back(entry.charges[line.charge], &record);
      if (line.response != kNoResponse) lines_gone[line.response] += 1;
    }
    for (size_t r = 0; r < entry.responses.size(); ++r) {
      const SharedResponse& response = entry.responses[r];
      if (lines_gone[r] == 0 || lines_gone[r] < response.lines) continue;
      reduce(1, &record.turns);
      reduce(response.tokens.input, &record.input);
      reduce(response.tokens.output, &record.output);
      reduce(response.tokens.cache_read, &record.cache_read);
      reduce(response.tokens.cache_write, &record.cache_write);
    }

    const bool had_messages = !session.messages.empty();
    size_t out = 0;
    for (size_t i = 0; i < session.messages.size(); ++i) {
      if (dropped[e][i]) continue;
      if (out != i) session.messages[out] = std::move(session.messages[i]);
      ++out;
    }
    session.messages.resize(out);
    if (!session.messages.empty()) {
      session.created_at = session.messages.front().timestamp;
    } else if (had_messages) {
      emptied.insert(session.id);
    }
  }
  if (emptied.empty()) return;
  std::erase_if(*sessions, [&emptied](const Session& session) {
    return session.source == SourceKind::ClaudeCode && emptied.contains(session.id);
  });
  std::erase_if(*sources, [&emptied](const StampedSource& source) {
    return emptied.contains(source.session_id);
  });
}

}  // namespace lorebox
