// A document is superseded when its message list is a prefix of another
// document's. Sorting the lists lexicographically (ties by created_at, id,
// then path) puts every list right before those it is a prefix of, and an
// equal list's winner after its losers, so a document is superseded exactly
// when its list is a prefix of the next one in that order: one sort instead
// of comparing every pair.
#include "codex/document_sessions.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace lorebox {

namespace {

constexpr std::string_view kDocumentSuffix = ".json";

// Orders messages by role, then text.
int compare_messages(const Message& a, const Message& b) {
  if (a.role != b.role) return a.role < b.role ? -1 : 1;
  return a.text.compare(b.text);
}

// True when list `a` is a prefix of list `b` (equal lists included).
bool is_prefix(const std::vector<Message>& a, const std::vector<Message>& b) {
  if (a.size() > b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (compare_messages(a[i], b[i]) != 0) return false;
  return true;
}

}  // namespace

bool is_document_source(const StampedSource& source) {
  return std::string_view(source.stamp.path).ends_with(kDocumentSuffix);
}

void drop_superseded_documents(SourceScan* scan) {
  std::vector<size_t> documents;
  for (size_t i = 0; i < scan->sources.size(); ++i)
    if (is_document_source(scan->sources[i])) documents.push_back(i);
  if (documents.size() < 2) return;

  const std::vector<Session>& sessions = scan->sessions;
  auto before = [&](size_t a, size_t b) {
    const std::vector<Message>& x = sessions[a].messages;
    const std::vector<Message>& y = sessions[b].messages;
    for (size_t i = 0; i < x.size() && i < y.size(); ++i)
      if (int order = compare_messages(x[i], y[i]); order != 0) return order < 0;
    if (x.size() != y.size()) return x.size() < y.size();
    const double time_a = sessions[a].created_at;
    const double time_b = sessions[b].created_at;
    if (total_order_less(time_a, time_b)) return true;
    if (total_order_less(time_b, time_a)) return false;
    if (sessions[a].id != sessions[b].id) return sessions[a].id < sessions[b].id;
    return scan->sources[a].stamp.path < scan->sources[b].stamp.path;
  };
  std::sort(documents.begin(), documents.end(), before);

  std::vector<bool> dropped(scan->sessions.size(), false);
  for (size_t i = 0; i + 1 < documents.size(); ++i)
    if (is_prefix(sessions[documents[i]].messages, sessions[documents[i + 1]].messages))
      dropped[documents[i]] = true;

  size_t kept = 0;
  for (size_t i = 0; i < scan->sessions.size(); ++i) {
    if (dropped[i]) continue;
    if (kept != i) {
      scan->sessions[kept] = std::move(scan->sessions[i]);
      scan->sources[kept] = std::move(scan->sources[i]);
    }
    ++kept;
  }
  scan->sessions.resize(kept);
  scan->sources.resize(kept);
}

}  // namespace lorebox
