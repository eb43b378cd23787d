#include "history/prompt_copies.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <set>
#include <utility>

#include "session/session.h"

namespace lorebox {

PromptCopies match_prompt_copies(const std::vector<double>& entry_times,
                                 std::vector<double> held_times) {
  PromptCopies copies;
  std::vector<size_t> order(entry_times.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(), [&entry_times](size_t a, size_t b) {
    return total_order_less(entry_times[a], entry_times[b]);
  });
  copies.prompt_of.resize(entry_times.size());
  double previous = 0.0;
  for (size_t entry : order) {
    const double time = entry_times[entry];
    if (copies.first_entry.empty() || !(time - previous <= kSamePromptWindow))
      copies.first_entry.push_back(entry);
    copies.prompt_of[entry] = copies.first_entry.size() - 1;
    previous = time;
  }

  const size_t prompts = copies.first_entry.size();
  copies.held.assign(prompts, held_times.size() >= prompts);
  if (held_times.size() >= prompts) return copies;

  // Unmatched prompts by time; each transcript copy, in time order, takes
  // the nearest of them.
  std::set<std::pair<double, size_t>> unmatched;
  for (size_t p = 0; p < prompts; ++p)
    unmatched.emplace(entry_times[copies.first_entry[p]], p);
  std::sort(held_times.begin(), held_times.end(), total_order_less);
  for (double time : held_times) {
    auto after = unmatched.lower_bound({time, 0});
    auto nearest = after;
    if (after == unmatched.end() ||
        (after != unmatched.begin() &&
         std::fabs(std::prev(after)->first - time) <= std::fabs(after->first - time)))
      nearest = std::prev(after);
    copies.held[nearest->second] = true;
    unmatched.erase(nearest);
  }
  return copies;
}

}  // namespace lorebox
