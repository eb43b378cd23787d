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
  // else the non-empty summary of its latest leaf (the leaf furthest into
  // its files, in walk order; of several summaries of that leaf the last).
  // Masked when `redact` is on. A leaf held by several sessions (a copied
  // line) belongs to the one whose file ends with it, else to the least
  // session id among them.
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

  // Where a leaf lies: the session it belongs to, the file (index into
  // files_) and its position there, and whether it ends that file.
  struct Holder {
    const std::string* session_id;
    size_t file;
    size_t position;
    bool ends_file;
  };
  // The holder of each summary's leaf, for the leaves some session holds.
  std::unordered_map<LineIdentity, Holder, LineIdentityHash> leaf_holders() const;

  std::vector<Custom> custom_;
  std::vector<SummaryTitle> summaries_;
  std::vector<SessionUuids> files_;
};

}  // namespace lorebox
