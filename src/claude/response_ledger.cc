#include "claude/response_ledger.h"

#include <utility>

namespace lorebox {

namespace {

// The exact sum of the four counters as (carries out of 64 bits, low 64
// bits), compared lexicographically.
std::pair<unsigned, uint64_t> usage_weight(const TokenUsage& usage) {
  unsigned carries = 0;
  uint64_t sum = 0;
  for (uint64_t value :
       {usage.input, usage.output, usage.cache_read, usage.cache_write}) {
    carries += __builtin_add_overflow(sum, value, &sum) ? 1 : 0;
  }
  return {carries, sum};
}

}  // namespace

bool heavier_usage(const TokenUsage& a, const TokenUsage& b) {
  return usage_weight(a) > usage_weight(b);
}

void add_usage(const TokenUsage& usage, SessionEfficiency* record) {
  record->input += usage.input;
  record->output += usage.output;
  record->cache_read += usage.cache_read;
  record->cache_write += usage.cache_write;
}

void remove_usage(const TokenUsage& usage, SessionEfficiency* record) {
  // Unsigned arithmetic wraps, so this undoes add_usage exactly even if the
  // sums once overflowed.
  record->input -= usage.input;
  record->output -= usage.output;
  record->cache_read -= usage.cache_read;
  record->cache_write -= usage.cache_write;
}

void response_key(std::string_view message_id, std::optional<std::string_view> request_id,
                  std::string* key) {
  // The id's length comes first, so no id or request id can run into the
  // other whatever bytes they hold.
  key->clear();
  uint64_t length = message_id.size();
  key->append(reinterpret_cast<const char*>(&length), sizeof length);
  key->append(message_id);
  if (request_id) {
    key->push_back('r');
    key->append(*request_id);
  } else {
    key->push_back('-');
  }
}

void ResponseLedger::count(const std::string& key, const TokenUsage& usage,
                           SessionEfficiency* record) {
  auto found = responses_.find(key);
  if (found == responses_.end()) {
    responses_.emplace(key, usage);
    record->turns += 1;
    add_usage(usage, record);
    return;
  }
  if (heavier_usage(usage, found->second)) {
    remove_usage(found->second, record);
    add_usage(usage, record);
    found->second = usage;
  }
}

void ResponseLedger::absorb(ResponseLedger&& file, SessionEfficiency* record) {
  while (!file.responses_.empty()) {
    auto node = file.responses_.extract(file.responses_.begin());
    auto found = responses_.find(node.key());
    if (found == responses_.end()) {
      responses_.insert(std::move(node));
      continue;
    }
    // The response was counted twice, once here and once in the file's
    // record: keep one turn and the heavier usage.
    const TokenUsage& usage = node.mapped();
    record->turns -= 1;
    if (heavier_usage(usage, found->second)) {
      remove_usage(found->second, record);
      found->second = usage;
    } else {
      remove_usage(usage, record);
    }
  }
}

}  // namespace lorebox
