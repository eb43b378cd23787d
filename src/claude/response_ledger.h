// Counting split API responses once.
//
// Claude Code writes one API response as several "assistant" lines, one per
// content block, and every line carries the same "message"."id", the same
// "requestId" and a copy of the response's usage (older versions write a
// partial "output_tokens" on the earlier lines). A ResponseLedger remembers
// which responses were already counted into a SessionEfficiency so that such
// a response adds one turn, and the token counters of its heaviest line (the
// first one on a tie), exactly once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "session/session.h"

namespace lorebox {

// The four token counters of one assistant line.
struct TokenUsage {
  uint64_t input = 0;
  uint64_t output = 0;
  uint64_t cache_read = 0;
  uint64_t cache_write = 0;
};

// True when the four counters of `a` sum to more than those of `b` (the
// sums are compared exactly, without overflow).
bool heavier_usage(const TokenUsage& a, const TokenUsage& b);

// Adds the usage to the record's four token counters.
void add_usage(const TokenUsage& usage, SessionEfficiency* record);
// Takes back a usage that add_usage added to the record earlier.
void remove_usage(const TokenUsage& usage, SessionEfficiency* record);

// Writes into *key the identity of a response: its message id and its
// request id, or the absence of one. Two lines belong to one response
// exactly when their keys are equal.
void response_key(std::string_view message_id, std::optional<std::string_view> request_id,
                  std::string* key);

// The responses already counted into one accounting record.
class ResponseLedger {
 public:
  // Counts one line of the response `key` into *record: the first line of a
  // response adds one turn and its usage; a later line adds nothing, except
  // that a heavier usage replaces the one counted so far.
  void count(const std::string& key, const TokenUsage& usage, SessionEfficiency* record);

  // Folds in the ledger of a file whose record has just been added into
  // *record (merge_into). A response counted by both keeps one turn and the
  // heavier usage, this ledger's on a tie; `file` is left empty.
  void absorb(ResponseLedger&& file, SessionEfficiency* record);

  // Number of distinct responses counted.
  size_t size() const { return responses_.size(); }

 private:
  std::unordered_map<std::string, TokenUsage> responses_;
};

}  // namespace lorebox
