// What the Claude Code reader hands on about lines that Claude Code copied
// from one session into another (resume, background handoff, fork), so that
// the driver can keep each such line in one session only, and the native ids
// by which prompt history may name a session.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "session/line_identity.h"

namespace lorebox {

// The tool accounting one transcript line added to its session.
struct LineCharge {
  std::vector<std::pair<std::string, uint64_t>> tools;     // calls per name
  std::vector<std::pair<std::string, uint64_t>> commands;  // commands per label
  uint64_t tool_calls = 0;
  uint64_t repeated_calls = 0;
  uint64_t failed_calls = 0;
  uint64_t tool_result_bytes = 0;
  uint64_t whole_file_reads = 0;
};

// The four token counters of a response's usage.
struct ChargedTokens {
  uint64_t input = 0;
  uint64_t output = 0;
  uint64_t cache_read = 0;
  uint64_t cache_write = 0;
};

// One line of a session whose identity occurs in another session too.
struct SharedLine {
  LineIdentity identity;
  // The response the line belongs to (an index into SessionLines::responses),
  // or kNoResponse for a user line.
  uint32_t response = 0;
  // Its tool accounting (an index into SessionLines::charges), or kNoCharge.
  uint32_t charge = 0;
  // The line carries "forkedFrom" or "sessionKind":"bg".
  bool marked = false;
};

inline constexpr uint32_t kNoResponse = UINT32_MAX;
inline constexpr uint32_t kNoCharge = UINT32_MAX;

// A response (one turn and its tokens) that shared lines belong to.
struct SharedResponse {
  uint64_t lines = 0;    // the session's lines of this response, shared or not
  ChargedTokens tokens;  // the usage counted for it in the session
};

// The shared lines of one Claude Code session.
struct SessionLines {
  std::string session_id;
  std::vector<SharedLine> lines;
  std::vector<SharedResponse> responses;
  std::vector<LineCharge> charges;
};

// Native session ids (without the source prefix) that stand for another
// session: the ids of its copied lines and the names of its files.
using SessionAliases = std::unordered_map<std::string, std::string>;

}  // namespace lorebox
