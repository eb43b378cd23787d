// How many times a person typed one text, as the prompt history and a
// transcript each tell it.
#pragma once

#include <cstddef>
#include <vector>

namespace lorebox {

// History entries with one text closer together than this, in seconds, are
// one prompt written more than once (some versions write a line several
// times within milliseconds); entries further apart are separate prompts.
inline constexpr double kSamePromptWindow = 2.0;

// The history entries of one text for one place (a session, or a project),
// grouped into prompts and matched against the transcript's copies.
struct PromptCopies {
  // Per entry, in the order given: the number of its prompt.
  std::vector<size_t> prompt_of;
  // Per prompt, in time order: its earliest entry (file order on ties).
  std::vector<size_t> first_entry;
  // Per prompt: a transcript copy stands for it.
  std::vector<bool> held;
};

// Groups `entry_times` (entries in file order) into prompts: in time order,
// an entry within kSamePromptWindow of the one before it joins that one's
// prompt. Then each of `held_times` (the times of the transcript's copies
// of the text, any order) takes the unmatched prompt nearest in time to it
// (the earlier one on a tie), so a transcript holding N copies stands for N
// prompts and the rest are missing from it.
PromptCopies match_prompt_copies(const std::vector<double>& entry_times,
                                 std::vector<double> held_times);

}  // namespace lorebox
