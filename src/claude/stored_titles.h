// Titles Claude Code stores in lines of their own, gathered over every
// transcript file and given to the sessions once all files are read.
//
// A "custom-title" line is a name the person chose (/rename) for the session
// its "sessionId" names. A "summary" line (Claude Code 1.x to 2.0) is the
// title of the conversation that ends at the line whose "uuid" is its
// "leafUuid"; it often stands at the top of a later session's file, so it
// belongs to whichever session holds that line.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "session/line_identity.h"
#include "session/session.h"

namespace lorebox {

// A "custom-title" line of a file.
struct CustomTitle {
  std::optional<std::string> native_id;  // its "sessionId", if a string
  std::string text;
};

// A "summary" line of a file.
struct SummaryTitle {
  LineIdentity leaf;
  std::string text;
};

// What one file holds for the titles.
struct FileTitles {
  std::vector<CustomTitle> custom;    // line order
  std::vector<SummaryTitle> summary;  // line order
  // The "uuid" of every conversation line (user, assistant, attachment,
  // system, progress), line order.
  std::vector<LineIdentity> uuids;
};

// The titles of a whole read. Files are added in walk order on the calling
// thread, so "last" below means last in walk order, then line order.
class StoredTitles {
 public:
  // Adds a file's titles. `session_id` is the session the file was merged
  // into, or nothing when it gave no session (its lines then hold no leaf).
  void add_file(FileTitles&& titles, const std::optional<std::string>& session_id);

  // Sets the stored title of each session: its last non-empty custom title;
  // else the title it already has (the agent's "ai-title") when not blank;
  // else the last
  // non-empty summary that belongs to it. Masked when `redact` is on. A
  // leaf held by several sessions (a copied line) belongs to the one whose
  // file ends with it, else to the least session id among them.
  void apply(std::map<std::string, Session*>& sessions, bool redact) const;

  // True when no file held a custom title or a summary.
  bool empty() const { return custom_.empty() && summaries_.empty(); }

 private:
  struct SessionUuids {
    std::string session_id;
    std::vector<LineIdentity> uuids;
  };
  struct Custom {
    std::string session_id;
    std::string text;
  };

  // The session each summary belongs to, by leaf.
  std::unordered_map<LineIdentity, std::string, LineIdentityHash> leaf_owners() const;

  std::vector<Custom> custom_;
  std::vector<SummaryTitle> summaries_;
  std::vector<SessionUuids> files_;
};

}  // namespace lorebox
