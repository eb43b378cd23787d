// One Claude Code transcript file, line by line: what it contributes to a
// session (prompts, replies, queued prompts, stored title, accounting).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "claude/response_ledger.h"
#include "json/line_parser.h"
#include "json/member_table.h"
#include "json/value.h"
#include "scan/line_reader.h"
#include "session/pack_options.h"
#include "session/session.h"

namespace lorebox {

// The working state of one transcript file, empty when the file is opened.
struct ClaudeFile {
  std::optional<std::string> native_id;          // first "sessionId" string
  std::optional<std::string> working_directory;  // first "cwd" string
  std::optional<std::string> title;              // "aiTitle" of the last "ai-title" line
  std::vector<Message> messages;                 // kept prompts and replies, line order
  std::vector<Message> queued;                   // prompts of queued-command attachments
  SessionEfficiency accounting;                  // filled only when usage is included
  ResponseLedger responses;                      // split responses counted in accounting
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
  void read_message_line(bool is_user, ClaudeFile* file);
  void account_user_line(SessionEfficiency* record);
  void account_assistant_line(ClaudeFile* file);
  void read_queued_command(ClaudeFile* file);

  const PackOptions& options_;
  json::LineParser parser_;
  json::MemberTable line_;     // the members of the current line
  json::MemberTable message_;  // those of its "message"
  std::string text_;   // joined text blocks of the current line
  std::string input_;  // compact JSON of the current tool input
  std::string key_;    // identity of the current response
};

// End of file: appends to the file's messages every queued prompt whose text
// is not the text of one of its user messages, in queue order. Queued
// prompts are not compared with one another.
void append_queued_prompts(ClaudeFile* file);

}  // namespace lorebox
