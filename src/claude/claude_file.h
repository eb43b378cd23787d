// One Claude Code transcript file, line by line: what it contributes to a
// session (prompts, replies, queued prompts, stored title, accounting).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "claude/prompt_queue.h"
#include "claude/response_ledger.h"
#include "claude/stored_titles.h"
#include "json/line_parser.h"
#include "json/member_table.h"
#include "json/value.h"
#include "scan/line_reader.h"
#include "session/copied_lines.h"
#include "session/line_identity.h"
#include "session/pack_options.h"
#include "session/session.h"

namespace lorebox {

// A line of a file that may have been copied from or into another session:
// a message line or queued prompt with an identity, and (usage included)
// every accounted assistant line, so that its response's lines are known.
struct FileLine {
  LineIdentity identity;
  bool has_identity = false;
  // "forkedFrom" or "sessionKind":"bg": the line is a copy.
  bool marked = false;
  // Went through accounting (usage included).
  bool accounted = false;
  // An assistant line counted in a response: `response` is a hash of its
  // response key (never 0), or 0 for a line without a message id, which is
  // a turn of its own; `usage` is the line's own usage.
  bool assistant = false;
  uint64_t response = 0;
  TokenUsage usage;
  // Its tool accounting (an index into ClaudeFile::charges), or kNoCharge.
  uint32_t charge = kNoCharge;
};

// The working state of one transcript file, empty when the file is opened.
struct ClaudeFile {
  std::optional<std::string> native_id;          // first "sessionId" string
  std::optional<std::string> working_directory;  // first "cwd" string
  std::optional<std::string> title;              // "aiTitle" of the last "ai-title" line
  std::vector<std::string> other_ids;            // later "sessionId"s unlike the first
  std::vector<Message> messages;                 // kept prompts and replies, line order
  std::vector<Message> queued;                   // prompts of queued-command attachments
  SessionEfficiency accounting;                  // filled only when usage is included
  ResponseLedger responses;                      // split responses counted in accounting
  std::vector<FileLine> lines;                   // lines that may be copies, line order
  std::vector<LineCharge> charges;               // tool accounting of lines with identity
  // Identities whose tool accounting has been counted: a later line with
  // one of them (a replayed copy) counts no tools, results or failures.
  std::unordered_set<LineIdentity, LineIdentityHash> accounted;
  // Side-chain uuids of a cache warm-up prompt and the lines descending
  // from it (subagents included only).
  std::unordered_set<std::string> warmup;
  // The replay of the "queue-operation" lines, and the prompts that reached
  // the model only through the queue (no later line of the file carries
  // them), set at the end of the file.
  PromptQueue queue;
  std::vector<Message> delivered;
  // Custom titles, summaries and conversation uuids, for the stored titles.
  FileTitles titles;
};

// Turns transcript lines into a ClaudeFile. One reader serves every file of
// a run, so its parser and scratch buffers are allocated once.
class ClaudeLineReader {
 public:
  // `options` must outlive the reader.
  explicit ClaudeLineReader(const PackOptions& options);
  ClaudeLineReader(const ClaudeLineReader&) = delete;
  ClaudeLineReader& operator=(const ClaudeLineReader&) = delete;

  // Applies every line of a transcript to *file, in order; a line that is
  // not valid UTF-8 ends the file (LineReader's rule).
  void read_lines(LineReader& lines, ClaudeFile* file);

  // Applies one line to *file. A line that is not a JSON object, or whose
  // shape is unknown, changes nothing (or only what it validly carries).
  // The json::kPadding bytes after the view must be readable, as
  // they are for the lines of a LineReader.
  void read_line(std::string_view line, ClaudeFile* file);

 private:
  // The line's members are in line_, its message's in message_.
  void read_object(json::Element object, ClaudeFile* file);
  void read_message_line(bool is_user, json::Element object, ClaudeFile* file);
  bool is_warmup_chain(bool is_user, json::Element object, ClaudeFile* file);
  void mark_line(FileLine* line) const;
  void account_line(bool is_user, FileLine* line, ClaudeFile* file);
  void account_user_line(SessionEfficiency* record);
  void account_assistant_tokens(FileLine* line, ClaudeFile* file);
  void account_assistant_tools(SessionEfficiency* record);
  void read_queued_command(ClaudeFile* file);
  void read_queue_operation(json::Element object, ClaudeFile* file);
  void carry_queued_text(std::string_view text, ClaudeFile* file);

  const PackOptions& options_;
  json::LineParser parser_;
  json::MemberTable line_;         // the members of the current line
  json::MemberTable message_;      // those of its "message"
  std::string text_;               // joined text blocks of the current line
  std::string key_;                // identity of the current response
  SessionEfficiency line_record_;  // tool accounting of one line with identity
};

// The tool accounting of a record that only holds tools, commands and the
// tool counters, as a LineCharge.
LineCharge line_charge(const SessionEfficiency& record);

// End of file: appends to the file's messages every queued prompt whose text
// is not the text of one of its user messages, in queue order. Queued
// prompts are not compared with one another.
void append_queued_prompts(ClaudeFile* file);

// End of file: turns the prompts that reached the model through the queue,
// and that no later line of the file carries, into file->delivered: each
// at its enqueue time, unless it is markup or its enqueue time does not
// parse, redacted (when on) and truncated like a typed prompt. Each takes
// an identity made of its enqueue time and text, so that a copy of the
// queue in another session is kept once.
void take_delivered_prompts(const PackOptions& options, ClaudeFile* file);

}  // namespace lorebox
