// Target for prompt-history recovery: the input is written as the history
// of both agents. Its entries are compared with ones built from the same
// lines by nlohmann-json, then recovered into a small session list.
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_targets.h"
#include "history/history_entry.h"
#include "history/history_recovery.h"
#include "line_model.h"
#include "scratch_home.h"
#include "session_checks.h"

namespace lorebox::fuzz {

namespace {

namespace fs = std::filesystem;

std::optional<std::string> string_at(const nlohmann::json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

std::optional<double> number_at(const nlohmann::json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || !it->is_number()) return std::nullopt;
  return it->get<double>();
}

// Claude Code's pasted texts: every member of "pastedContents" (in key
// order) whose value holds a string "content", joined by "\n".
std::string model_pasted(const nlohmann::json& object) {
  std::string joined;
  const auto pasted = object.find("pastedContents");
  if (pasted == object.end() || !pasted->is_object()) return joined;
  bool first = true;
  for (const auto& [key, value] : pasted->items()) {
    if (!value.is_object()) continue;
    const std::optional<std::string> content = string_at(value, "content");
    if (!content) continue;
    if (!first) joined += '\n';
    joined += *content;
    first = false;
  }
  return joined;
}

std::optional<HistoryEntry> model_entry(std::string_view line, SourceKind source) {
  const std::optional<nlohmann::json> value = model_value(line);
  if (!value || !value->is_object()) return std::nullopt;
  const bool claude = source == SourceKind::ClaudeCode;
  const std::optional<std::string> id =
      string_at(*value, claude ? "sessionId" : "session_id");
  // Claude Code lines without any "sessionId" are legacy entries.
  const bool legacy = claude && !value->contains("sessionId");
  const std::optional<std::string> text = string_at(*value, claude ? "display" : "text");
  const std::optional<double> time = number_at(*value, claude ? "timestamp" : "ts");
  if ((!id && !legacy) || !text || !time) return std::nullopt;

  HistoryEntry entry;
  entry.session_id = id.value_or("");
  entry.legacy = legacy;
  entry.text = *text;
  entry.timestamp = claude ? *time / 1000.0 : *time;
  if (claude) {
    const std::string pasted = model_pasted(*value);
    if (!pasted.empty()) {
      entry.text += '\n' + pasted;
      entry.has_pasted_text = true;
    }
    entry.project = string_at(*value, "project");
  }
  return entry;
}

bool same_entry(const HistoryEntry& a, const HistoryEntry& b) {
  return a.session_id == b.session_id && a.text == b.text && a.project == b.project &&
         a.timestamp == b.timestamp && a.has_pasted_text == b.has_pasted_text &&
         a.legacy == b.legacy;
}

void expect_entries(const fs::path& home, std::string_view bytes, SourceKind source) {
  std::vector<HistoryEntry> expected;
  for (std::string_view line : model_lines(bytes)) {
    std::optional<HistoryEntry> entry = model_entry(line, source);
    if (entry) expected.push_back(std::move(*entry));
  }
  const std::vector<HistoryEntry> entries = read_history_entries(home, source);
  bool same = entries.size() == expected.size();
  for (size_t i = 0; same && i < entries.size(); ++i)
    same = same_entry(entries[i], expected[i]);
  expect(same, "read_history_entries differs from the file's lines");
}

Session seed_session(SourceKind source) {
  Session session;
  session.source = source;
  session.id = std::string(source_id_prefix(source)) + "-s1";
  session.messages.push_back(Message{"hello", std::nullopt, 1.0, Role::User});
  session.messages.push_back(Message{"hi there", "model", 2.0, Role::Assistant});
  session.created_at = 1.0;
  return session;
}

void expect_recovery(const fs::path& home, SourceKind source,
                     const PackOptions& options) {
  const SourceKind other =
      source == SourceKind::Codex ? SourceKind::ClaudeCode : SourceKind::Codex;
  std::vector<Session> sessions = {seed_session(other), seed_session(source)};
  const TitleTable titles = {{"s1", "stored"}, {"s2", "another"}};
  const RecoveryCounts counts =
      recover_from_history(sessions, home, source, titles, options);

  expect(sessions.size() == 2 + counts.rebuilt_sessions,
         "the rebuilt count differs from the sessions added");
  expect(sessions[0].messages.size() == 2 && sessions[0].id == seed_session(other).id,
         "recovery changed a session of the other source");
  // The surviving session keeps its seed messages, which need not meet the
  // options' limit; every prompt recovered into it must.
  PackOptions seeded = options;
  seeded.include_assistant = true;
  seeded.max_message_chars.reset();
  expect_session(sessions[1], source, seeded);
  uint64_t messages = sessions[1].messages.size();
  for (const Message& message : sessions[1].messages) {
    if (message.text != "hello" && message.text != "hi there")
      expect_message_text(message.text, options.redact, options.max_message_chars);
  }
  for (size_t i = 2; i < sessions.size(); ++i) {
    messages += sessions[i].messages.size();
    expect_session(sessions[i], source, options);
    for (const Message& message : sessions[i].messages)
      expect(message.role == Role::User, "a rebuilt session holds a reply");
  }
  expect(messages == 2 + counts.recovered_prompts,
         "the recovered count differs from the prompts added");
}

}  // namespace

int fuzz_history(const uint8_t* data, size_t size) {
  const fs::path home = scratch_dir() / "history";
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (!expect(put_file(home / "history.jsonl", bytes),
              "could not write the scratch history"))
    return 0;

  for (SourceKind source : {SourceKind::ClaudeCode, SourceKind::Codex}) {
    expect_entries(home, bytes, source);
    expect_recovery(home, source, reader_options(bytes));
  }
  return 0;
}

}  // namespace lorebox::fuzz
