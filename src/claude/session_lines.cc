// Keeping copied Claude Code lines once within the reader.
//
// Claude Code copies lines, keeping their identity, when it resumes a
// session (into a new file that repeats the old one) and when it replays a
// compacted segment; a copy merged into the same session must neither add
// a second prompt nor count its tools again. Copies that land in another
// session are settled later by the driver (continuations.h), so the reader
// hands on every line whose identity occurs in two sessions.
#include "claude/session_lines.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace lorebox {

namespace {

// Subtracts without going below zero.
void reduce(uint64_t amount, uint64_t* counter) {
  *counter = *counter >= amount ? *counter - amount : 0;
}

void reduce_table(const std::vector<std::pair<std::string, uint64_t>>& counts,
                  std::map<std::string, uint64_t>* table) {
  for (const auto& [name, count] : counts) {
    auto found = table->find(name);
    if (found == table->end()) continue;
    reduce(count, &found->second);
    if (found->second == 0) table->erase(found);
  }
}

}  // namespace

void SessionLineLog::absorb(ClaudeFile&& file, SessionEfficiency* file_accounting) {
  const bool earlier_files = !lines_.empty();
  if (earlier_files && !accounted_) {
    accounted_.emplace();
    for (const FileLine& line : lines_) {
      if (line.has_identity && line.accounted) accounted_->insert(line.identity);
    }
  }
  const uint32_t charge_base = static_cast<uint32_t>(charges_.size());
  for (FileLine& line : file.lines) {
    if (line.charge != kNoCharge) {
      // A file counts an identity's tools on its first line only, so the
      // charge is the file's whole count for that identity.
      if (accounted_ && accounted_->contains(line.identity)) {
        take_back(file.charges[line.charge], file_accounting);
        line.charge = kNoCharge;
      } else {
        line.charge += charge_base;
      }
    }
  }
  if (accounted_) {
    for (const FileLine& line : file.lines) {
      if (line.has_identity && line.accounted) accounted_->insert(line.identity);
    }
  }
  if (lines_.empty()) {
    lines_ = std::move(file.lines);
  } else {
    lines_.insert(lines_.end(), file.lines.begin(), file.lines.end());
  }
  for (LineCharge& charge : file.charges) charges_.push_back(std::move(charge));
  file.lines.clear();
  file.charges.clear();
}

void take_back(const LineCharge& charge, SessionEfficiency* record) {
  reduce_table(charge.tools, &record->tools);
  reduce_table(charge.commands, &record->commands);
  reduce(charge.tool_calls, &record->tool_calls);
  reduce(charge.repeated_calls, &record->repeated_calls);
  reduce(charge.failed_calls, &record->failed_calls);
  reduce(charge.tool_result_bytes, &record->tool_result_bytes);
  reduce(charge.whole_file_reads, &record->whole_file_reads);
}

void drop_repeated_messages(Session* session) {
  // Kept messages with an identity, by identity (usually one each).
  std::unordered_multimap<LineIdentity, size_t, LineIdentityHash> kept;
  std::vector<Message>& messages = session->messages;
  size_t out = 0;
  for (size_t i = 0; i < messages.size(); ++i) {
    Message& message = messages[i];
    bool repeated = false;
    if (message.has_identity) {
      auto [first, last] = kept.equal_range(message.identity);
      for (auto it = first; it != last && !repeated; ++it) {
        const Message& earlier = messages[it->second];
        repeated = earlier.role == message.role && earlier.text == message.text;
      }
    }
    if (repeated) continue;
    if (out != i) messages[out] = std::move(message);
    if (messages[out].has_identity) kept.emplace(messages[out].identity, out);
    ++out;
  }
  messages.resize(out);
}

std::vector<SessionLines> shared_lines(const std::vector<LoggedSession>& sessions) {
  std::vector<SessionLines> table;
  // Every (identity, session) pair once; an identity with two or more
  // sessions is shared.
  std::vector<std::pair<LineIdentity, uint32_t>> pairs;
  for (uint32_t s = 0; s < sessions.size(); ++s) {
    for (const FileLine& line : sessions[s].log->lines()) {
      if (line.has_identity) pairs.emplace_back(line.identity, s);
    }
  }
  std::sort(pairs.begin(), pairs.end());
  pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
  std::unordered_set<LineIdentity, LineIdentityHash> shared;
  for (size_t i = 0; i + 1 < pairs.size(); ++i) {
    if (pairs[i].first == pairs[i + 1].first) shared.insert(pairs[i].first);
  }
  if (shared.empty()) return table;

  for (const LoggedSession& session : sessions) {
    const std::vector<FileLine>& lines = session.log->lines();
    SessionLines entry;
    // Responses of the shared lines by response hash; a line without a
    // message id is a response of its own.
    std::unordered_map<uint64_t, uint32_t> responses;
    for (const FileLine& line : lines) {
      if (!line.has_identity || !shared.contains(line.identity)) continue;
      SharedLine out;
      out.identity = line.identity;
      out.marked = line.marked;
      out.response = kNoResponse;
      out.charge = kNoCharge;
      if (line.assistant) {
        const uint32_t next = static_cast<uint32_t>(entry.responses.size());
        if (line.response == 0) {
          out.response = next;
          entry.responses.push_back(
              SharedResponse{1,
                             {line.usage.input, line.usage.output, line.usage.cache_read,
                              line.usage.cache_write}});
        } else {
          auto [slot, added] = responses.try_emplace(line.response, next);
          if (added) entry.responses.emplace_back();
          out.response = slot->second;
        }
      }
      if (line.charge != kNoCharge) {
        out.charge = static_cast<uint32_t>(entry.charges.size());
        entry.charges.push_back(std::move(session.log->charges()[line.charge]));
      }
      entry.lines.push_back(out);
    }
    if (entry.lines.empty()) continue;
    // Every line of those responses, shared or not, counts towards them;
    // the usage counted is the heaviest line's (the first on a tie), as in
    // the response ledger.
    if (!responses.empty()) {
      std::vector<TokenUsage> heaviest(entry.responses.size());
      for (const FileLine& line : lines) {
        if (!line.assistant || line.response == 0) continue;
        auto found = responses.find(line.response);
        if (found == responses.end()) continue;
        SharedResponse& response = entry.responses[found->second];
        if (response.lines == 0 || heavier_usage(line.usage, heaviest[found->second]))
          heaviest[found->second] = line.usage;
        response.lines += 1;
      }
      for (const auto& [hash, index] : responses) {
        const TokenUsage& usage = heaviest[index];
        entry.responses[index].tokens = {usage.input, usage.output, usage.cache_read,
                                         usage.cache_write};
      }
    }
    entry.session_id = *session.id;
    table.push_back(std::move(entry));
  }
  return table;
}

}  // namespace lorebox
