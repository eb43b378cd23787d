// Prompts a person typed while Claude Code was busy, followed through the
// "queue-operation" lines of one transcript file.
//
// Claude Code writes "enqueue" (with the text as "content" when it is plain
// text) when a prompt joins its queue, then one line per prompt that leaves
// it: "dequeue" when the prompt is sent to the model as the next turn (also
// written as a user line, several dequeued prompts joined by line feeds),
// "remove" when it is handed to the model inside the running turn as a
// queued-command attachment, and "popAll" (with the text again) when the
// person pulls the queue back into the input box to edit it. Dequeued and
// removed prompts reached the model; popped ones did not, and come back as
// typed prompts if they are sent at all.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lorebox {

// A prompt that reached the model from the queue.
struct DeliveredPrompt {
  std::string text;       // the enqueued text, as written
  std::string timestamp;  // the "timestamp" text of its enqueue line
  bool marked = false;    // its enqueue line is marked as a copy
};

// The queue of one file, replayed line by line.
class PromptQueue {
 public:
  // An "enqueue" line, `marked` when it is a copy. `content` is its text
  // when it has one; an entry without text (an image prompt) still takes
  // its place in the queue.
  void enqueue(std::optional<std::string_view> content,
               std::optional<std::string_view> timestamp, bool marked);
  // A "dequeue" line: the oldest queued entry reached the model.
  void dequeue();
  // A "remove" line: the oldest queued prompt reached the model inside the
  // running turn. Notifications queued by the agent itself stay queued in
  // newer versions, so the oldest entry that is not internal markup is the
  // one taken (the oldest of all when every entry is markup).
  void remove();
  // A "popAll" line: the entry with that text (else the oldest) went back
  // to the input box.
  void pop_all(std::optional<std::string_view> content);

  // True while a line read now may carry an enqueued text: some entry with
  // text is neither carried yet nor handed back.
  bool wants_carriers() const { return open_ > 0; }
  // A user line or queued-command attachment read after the entries so far,
  // whose text is `text`: every open entry whose text it holds is carried.
  void carry(std::string_view text);

  // The entries that reached the model and that no later line carries, in
  // enqueue order. The queue is left empty.
  std::vector<DeliveredPrompt> take_delivered();

 private:
  enum class State { Queued, Delivered, Returned };
  struct Entry {
    std::optional<std::string> text;
    std::string timestamp;
    bool marked = false;
    bool carried = false;
    State state = State::Queued;
  };

  // Index of the oldest queued entry; with `prompt_only`, the oldest whose
  // text is a prompt rather than markup, else the oldest of all.
  std::optional<size_t> oldest_queued(bool prompt_only) const;
  // Marks the entry leaving the queue and moves oldest_ past taken entries.
  void take(size_t index, bool delivered);
  // True when the entry still waits for a carrier.
  static bool is_open(const Entry& entry) {
    return entry.text && !entry.carried && entry.state != State::Returned;
  }

  std::vector<Entry> entries_;
  size_t oldest_ = 0;  // no queued entry lies before this index
  size_t open_ = 0;    // entries for which is_open holds
};

// True when `carrier` holds `text`: the two are equal once trimmed, or the
// trimmed text is a run of whole lines of the carrier.
bool carries_text(std::string_view carrier, std::string_view text);

}  // namespace lorebox
