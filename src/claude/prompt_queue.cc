#include "claude/prompt_queue.h"

#include <utility>

#include "text/cleanup.h"
#include "text/utf8.h"

namespace lorebox {

void PromptQueue::enqueue(std::optional<std::string_view> content,
                          std::optional<std::string_view> timestamp, bool marked) {
  Entry entry;
  if (content) entry.text.emplace(*content);
  if (timestamp) entry.timestamp = *timestamp;
  entry.marked = marked;
  if (is_open(entry)) ++open_;
  entries_.push_back(std::move(entry));
}

void PromptQueue::dequeue() {
  if (std::optional<size_t> index = oldest_queued(false)) take(*index, true);
}

void PromptQueue::remove() {
  if (std::optional<size_t> index = oldest_queued(true)) take(*index, true);
}

void PromptQueue::pop_all(std::optional<std::string_view> content) {
  std::optional<size_t> index;
  if (content) {
    for (size_t i = oldest_; i < entries_.size() && !index; ++i) {
      const Entry& entry = entries_[i];
      if (entry.state == State::Queued && entry.text && *entry.text == *content)
        index = i;
    }
  }
  if (!index) index = oldest_queued(false);
  if (index) take(*index, false);
}

void PromptQueue::carry(std::string_view text) {
  if (trim(text).empty()) return;
  for (Entry& entry : entries_) {
    if (!is_open(entry) || !carries_text(text, *entry.text)) continue;
    entry.carried = true;
    --open_;
  }
}

std::vector<DeliveredPrompt> PromptQueue::take_delivered() {
  std::vector<DeliveredPrompt> delivered;
  for (Entry& entry : entries_) {
    if (entry.state != State::Delivered || !entry.text || entry.carried) continue;
    delivered.push_back(DeliveredPrompt{std::move(*entry.text),
                                        std::move(entry.timestamp), entry.marked});
  }
  entries_.clear();
  oldest_ = 0;
  open_ = 0;
  return delivered;
}

std::optional<size_t> PromptQueue::oldest_queued(bool prompt_only) const {
  std::optional<size_t> oldest;
  for (size_t i = oldest_; i < entries_.size(); ++i) {
    const Entry& entry = entries_[i];
    if (entry.state != State::Queued) continue;
    if (!prompt_only) return i;
    if (!oldest) oldest = i;
    if (entry.text && !is_claude_noise(*entry.text)) return i;
  }
  return oldest;
}

void PromptQueue::take(size_t index, bool delivered) {
  Entry& entry = entries_[index];
  if (!delivered && is_open(entry)) --open_;
  entry.state = delivered ? State::Delivered : State::Returned;
  while (oldest_ < entries_.size() && entries_[oldest_].state != State::Queued) ++oldest_;
}

bool carries_text(std::string_view carrier, std::string_view text) {
  carrier = trim(carrier);
  text = trim(text);
  if (text.empty()) return false;
  // Prompts dequeued together arrive as one user line, joined by line feeds.
  for (size_t at = carrier.find(text); at != std::string_view::npos;
       at = carrier.find(text, at + 1)) {
    const size_t end = at + text.size();
    const bool starts_line = at == 0 || carrier[at - 1] == '\n';
    const bool ends_line =
        end == carrier.size() || carrier[end] == '\n' || carrier[end] == '\r';
    if (starts_line && ends_line) return true;
  }
  return false;
}

}  // namespace lorebox
